// korvo view run as a person runs it: the address it prints, what is served there, Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "cli/korvo_command.h"
#include "panorama/synthetic_panorama.h"
#include "test_support/temp_dir.h"

extern char** environ;

namespace {

using namespace KorvoTest;
namespace fs = std::filesystem;

// korvo in the background, its standard output and error on one pipe; `path` goes before the
// PATH the tests run with.
class RunningView {
  public:
    explicit RunningView(const std::vector<std::string>& arguments, const std::string& path = "") {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        std::vector<std::string> all{KORVO_COMMAND};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            environment.push_back(entry.starts_with("PATH=") && !path.empty()
                                      ? "PATH=" + path + ":" + entry.substr(5)
                                      : entry);
        }
        std::vector<char*> envp;
        for (std::string& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, KORVO_COMMAND, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~RunningView() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    // Reads until `text` shows up or the program ends or `seconds` pass; all output so far.
    const std::string& WaitFor(const std::string& text, int seconds = 20) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (output_.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd fd{out_, POLLIN, 0};
            if (poll(&fd, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            output_.append(buffer, size_t(n));
        }
        return output_;
    }

    int Port() {
        const std::string& out = WaitFor("/\n");
        const size_t at = out.find("http://127.0.0.1:");
        return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 17);
    }

    // Sends the signal and answers the exit code (-1 when it did not end within 10 s).
    int Stop(int signal = SIGINT) {
        kill(pid_, signal);
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(100'000);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// A desktop opener that writes down what it was asked to open.
fs::path FakeOpener(const fs::path& folder) {
    const fs::path script = folder / "xdg-open";
    std::ofstream(script) << "#!/bin/sh\necho \"$1\" > " << (folder / "opened.txt").string()
                          << "\n";
    fs::permissions(script, fs::perms::owner_all);
    return folder / "opened.txt";
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(ViewCommand, ServesThePanoramaOnLoopbackOpensTheBrowserAndStopsOnCtrlC) {
    TempDir dir;
    const fs::path file = dir.path() / "room.jpg";
    ASSERT_TRUE(KorvoHost::WriteJpeg(file, MakePanorama(Layout::Grid, SixWallsRoom).View(), 80));
    const fs::path opened = FakeOpener(dir.path());
    RunningView view({"view", file.string()}, dir.path().string());
    const int port = view.Port();
    ASSERT_GT(port, 0) << view.WaitFor("", 0);
    EXPECT_NE(view.WaitFor("Ctrl-C").find("Ctrl-C"), std::string::npos);
    for (int i = 0; i < 50 && Contents(opened).empty(); ++i) usleep(100'000);
    EXPECT_EQ(Contents(opened), "http://127.0.0.1:" + std::to_string(port) + "/\n");

    httplib::Client client("127.0.0.1", port);
    auto panorama = client.Get("/panorama.jpg");
    ASSERT_TRUE(panorama);
    EXPECT_EQ(panorama->status, 200);
    EXPECT_TRUE(panorama->body == Contents(file)) << "the panorama's bytes changed on the way";
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("viewer.js"), std::string::npos);
    auto three = client.Get("/three.module.js");
    ASSERT_TRUE(three);
    EXPECT_EQ(three->status, 200) << "three.js is not installed with the page";
    EXPECT_EQ(client.Get("/../room.jpg")->status, 403);

    EXPECT_EQ(view.Stop(SIGINT), 0) << view.WaitFor("", 0);
}

// A whole run of the example room, then the viewer on its panorama.
TEST(ViewCommandSlow, GenerateViewOpensTheViewerOnThePanoramaWritten) {
    TempDir dir;
    const fs::path opened = FakeOpener(dir.path());
    const fs::path out = dir.path() / "renders";
    RunningView run(
        {"--temp-dir", (dir.path() / "host").string(), "generate", KORVO_EXAMPLES "/room.json",
         "--no-save", "--camera", "Cam_Free", "-o", out.string(), "--view"},
        dir.path().string());
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.WaitFor("", 0);
    const fs::path panorama = out / "room_Cam_Free.jpg";
    EXPECT_NE(run.WaitFor("Ctrl-C").find("Viewer of " + panorama.string()), std::string::npos)
        << run.WaitFor("", 0);
    httplib::Client client("127.0.0.1", port);
    auto served = client.Get("/panorama.jpg");
    ASSERT_TRUE(served);
    EXPECT_TRUE(served->body == Contents(panorama));
    for (int i = 0; i < 50 && Contents(opened).empty(); ++i) usleep(100'000);
    EXPECT_FALSE(Contents(opened).empty());
    EXPECT_EQ(run.Stop(SIGINT), 0) << run.WaitFor("", 0);
}

TEST(ViewCommand, AFileOfNoKnownLayoutIsNamedOnTheTerminalAndStillServed) {
    TempDir dir;
    const fs::path file = dir.path() / "photo.jpg";
    KorvoHost::ImageRgba8 photo{640, 480, std::vector<std::uint8_t>(640 * 480 * 4, 90)};
    ASSERT_TRUE(KorvoHost::WriteJpeg(file, photo.View()));
    RunningView view({"view", file.string(), "--no-browser"});
    const int port = view.Port();
    ASSERT_GT(port, 0);
    const std::string& out = view.WaitFor("Ctrl-C");
    for (const char* part : {"photo.jpg", "640 x 480", "18432 x 1536", "9216 x 3072"})
        EXPECT_NE(out.find(part), std::string::npos) << out;
    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(client.Get("/panorama.jpg")->status, 200);
    EXPECT_EQ(view.Stop(SIGTERM), 1);
}

TEST(ViewCommand, RefusesAMissingFileAndATakenPort) {
    const CommandResult missing = Korvo("view /no/such/panorama.jpg --no-browser");
    EXPECT_EQ(missing.exitCode, 1) << missing.output;
    EXPECT_NE(missing.output.find("/no/such/panorama.jpg"), std::string::npos) << missing.output;

    TempDir dir;
    const fs::path file = dir.path() / "room.jpg";
    std::ofstream(file) << "x";
    RunningView first({"view", file.string(), "--no-browser"});
    const int port = first.Port();
    ASSERT_GT(port, 0);
    const CommandResult second =
        Korvo("view " + Quote(file.string()) + " --no-browser --port " + std::to_string(port));
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_NE(second.output.find(std::to_string(port)), std::string::npos) << second.output;
    EXPECT_EQ(Korvo("view " + Quote(file.string()) + " --port 70000").exitCode, 2);
}

}  // namespace
