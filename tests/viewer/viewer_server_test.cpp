// korvo view's server: only the page's files and the one panorama, only on 127.0.0.1.
#include "standalone_host/viewer/viewer_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <iomanip>
#include <sstream>
#include <thread>

#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Kind = KorvoHost::ViewerRequestTarget::Kind;

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ResolveViewerRequest, NamesOnlyThePagesFilesAndThePanorama) {
    EXPECT_EQ(KorvoHost::ResolveViewerRequest("/").pageFile, "index.html");
    EXPECT_EQ(KorvoHost::ResolveViewerRequest("/three.module.js").kind, Kind::PageFile);
    EXPECT_EQ(KorvoHost::ResolveViewerRequest("/panorama.jpg").kind, Kind::Panorama);
    for (const char* path : {"/../etc/passwd", "/..", "/viewer.js/../../x", "//etc/passwd",
                             "etc/passwd", "", "/a\\..\\b", "/..%2fetc"})
        EXPECT_EQ(KorvoHost::ResolveViewerRequest(path).kind, Kind::Refused) << path;
    for (const char* path : {"/etc/passwd", "/index.htm", "/viewer_server.cpp", "/panorama.jpeg",
                             "/three.module.js/", "/node_modules/three/package.json"})
        EXPECT_EQ(KorvoHost::ResolveViewerRequest(path).kind, Kind::NotFound) << path;
}

class ViewerServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        page_ = dir_.path() / "page";
        fs::create_directory(page_);
        for (const char* name : {"index.html", "viewer.js", "layouts.js", "three.module.js"})
            WriteFile(page_ / name, std::string("content of ") + name);
        WriteFile(dir_.path() / "secret.txt", "secret");
        panorama_ = dir_.path() / "room.jpg";
        WriteFile(panorama_, std::string("\xFF\xD8 jpeg bytes \0 and more", 24));
        server_ = std::make_unique<KorvoHost::ViewerServer>(page_, panorama_);
        std::string error;
        ASSERT_TRUE(server_->Bind(0, &error)) << error;
        serving_ = std::thread([this] { server_->Serve(); });
    }
    void TearDown() override {
        if (server_) server_->Stop();
        if (serving_.joinable()) serving_.join();
    }

    // A raw request line, so that nothing on the way tidies the path up.
    std::string RawGet(const std::string& target) {
        httplib::Client client("127.0.0.1", server_->Port());
        httplib::Request request;
        request.method = "GET";
        request.path = target;
        auto result = client.send(request);
        if (!result) return "no answer";
        return std::to_string(result->status) + " " + result->body;
    }

    KorvoTest::TempDir dir_;
    fs::path page_, panorama_;
    std::unique_ptr<KorvoHost::ViewerServer> server_;
    std::thread serving_;
};

TEST_F(ViewerServerTest, ServesThePageAndThePanorama) {
    httplib::Client client("127.0.0.1", server_->Port());
    auto index = client.Get("/");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->status, 200);
    EXPECT_EQ(index->body, "content of index.html");
    EXPECT_EQ(index->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    auto script = client.Get("/three.module.js");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->body, "content of three.module.js");
    EXPECT_EQ(script->get_header_value("Content-Type").rfind("text/javascript", 0), 0u);
    auto panorama = client.Get("/panorama.jpg");
    ASSERT_TRUE(panorama);
    EXPECT_EQ(panorama->status, 200);
    EXPECT_EQ(panorama->body, std::string("\xFF\xD8 jpeg bytes \0 and more", 24));
    EXPECT_EQ(panorama->get_header_value("Content-Type"), "image/jpeg");
    auto info = client.Get("/panorama.json");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->body, R"({"name":"room.jpg"})");
    EXPECT_EQ(server_->Address(), "http://127.0.0.1:" + std::to_string(server_->Port()) + "/");
}

TEST_F(ViewerServerTest, NothingElseOfTheFileSystem) {
    const std::string secret = (dir_.path() / "secret.txt").string();
    const std::vector<std::string> targets{
        "/../secret.txt", "/..%2Fsecret.txt",    "/%2E%2E/secret.txt", "/" + secret,
        secret,           "/page/../secret.txt", "/..\\secret.txt",    "/secret.txt",
        "/page",          "/index.html%00.jpg"};
    for (const std::string& target : targets) {
        const std::string answer = RawGet(target);
        EXPECT_TRUE(answer.starts_with("403") || answer.starts_with("404") ||
                    answer.starts_with("400"))
            << target << " answered " << answer;
        EXPECT_EQ(answer.find("secret"), std::string::npos) << target;
    }
}

// The listening socket, as the kernel lists it: bound to 127.0.0.1 and nothing wider.
TEST_F(ViewerServerTest, ListensOnTheLoopbackAddressOnly) {
    std::ifstream table("/proc/net/tcp");
    ASSERT_TRUE(table) << "no /proc/net/tcp";
    std::ostringstream wanted;
    wanted << "0100007F:" << std::uppercase << std::hex << std::setw(4) << std::setfill('0')
           << server_->Port();
    std::string line;
    bool found = false;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state != "0A") continue;  // listening
        const std::string port = local.substr(local.find(':'));
        if (port != wanted.str().substr(8)) continue;
        EXPECT_EQ(local, wanted.str()) << line;
        found = true;
    }
    EXPECT_TRUE(found) << "no listening socket " << wanted.str();
}

TEST(ViewerServer, APortInUseIsReportedNotServed) {
    KorvoTest::TempDir dir;
    KorvoHost::ViewerServer first(dir.path(), dir.path() / "p.jpg");
    std::string error;
    ASSERT_TRUE(first.Bind(0, &error)) << error;
    KorvoHost::ViewerServer second(dir.path(), dir.path() / "p.jpg");
    EXPECT_FALSE(second.Bind(first.Port(), &error));
    EXPECT_NE(error.find(std::to_string(first.Port())), std::string::npos) << error;
}

TEST(CheckViewerPage, NamesTheMissingFiles) {
    KorvoTest::TempDir dir;
    WriteFile(dir.path() / "index.html", "x");
    const std::string problem = KorvoHost::CheckViewerPage(dir.path());
    EXPECT_NE(problem.find("three.module.js"), std::string::npos) << problem;
    EXPECT_NE(problem.find("viewer.js"), std::string::npos) << problem;
    EXPECT_EQ(problem.find("index.html"), std::string::npos) << problem;
}

}  // namespace
