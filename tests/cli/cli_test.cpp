// The korvo command as a person runs it: its output, its messages and its exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/korvo_command.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::Korvo;
using KorvoTest::Quote;
using Result = KorvoTest::CommandResult;

class Cli : public ::testing::Test {
  protected:
    std::string Scene(const std::string& name, const std::string& text) {
        const fs::path file = temp_.path() / name;
        std::ofstream(file) << text;
        return Quote(file.string());
    }
    std::string Options() { return "--temp-dir " + Quote((temp_.path() / "host").string()); }

    KorvoTest::TempDir temp_;
};

TEST_F(Cli, InfoShowsCamerasRendererAndVersion) {
    const Result r =
        Korvo(Options() + " info " + Quote(std::string(KORVO_EXAMPLES) + "/room.json"));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Cam_Free"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Cam_Target"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("target camera looking at Cam_Target.Target"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Default Scanline (Other)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Version: " KORVO_VERSION), std::string::npos) << r.output;
}

TEST_F(Cli, BadScenesAreNamedWithTheirProblem) {
    struct Case {
        const char* file;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"broken.json", "{\"nodes\": [}", "broken.json:1:12: not valid JSON"},
        {"nomodel.json",
         R"({"nodes": [{"name": "M", "mesh": {"type": "model", "file": "gone.obj"}}]})",
         "gone.obj"},
        {"unknown.json", R"({"renderer": "raytracer9000"})", "unknown.json: renderer:"},
        {"field.json", R"({"nodes": [{"name": "C", "camera": {"fov": "wide"}}]})",
         "field.json: nodes[0].camera.fov: expected a number"},
    };
    for (const Case& c : cases) {
        const Result r = Korvo(Options() + " info " + Scene(c.file, c.text));
        EXPECT_EQ(r.exitCode, 1) << c.file << ": " << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.file << ": " << r.output;
        EXPECT_EQ(r.output.rfind("korvo: ", 0), 0u) << r.output;
    }
}

TEST_F(Cli, MissingSceneFileIsReported) {
    const Result r = Korvo(Options() + " info " + Quote((temp_.path() / "none.json").string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("none.json"), std::string::npos) << r.output;
}

TEST_F(Cli, MissingPluginIsReported) {
    const Result r = Korvo(Options() + " --plugin /nonexistent/KorvoPlugin.so info " +
                           Quote(std::string(KORVO_EXAMPLES) + "/room.json"));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("/nonexistent/KorvoPlugin.so: no such plug-in file"), std::string::npos)
        << r.output;
}

TEST_F(Cli, HelpAndUsage) {
    Result r = Korvo("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("info"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Examples:"), std::string::npos) << r.output;
    r = Korvo("info --help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("SCENE"), std::string::npos) << r.output;
    r = Korvo("");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    r = Korvo("info");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    r = Korvo("frobnicate");
    EXPECT_EQ(r.exitCode, 2) << r.output;
}

}  // namespace
