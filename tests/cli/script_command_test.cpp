// korvo script: a script run against a scene through the plug-in, its output and its errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/korvo_command.h"
#include "standalone_host/image_files/image_files.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::Korvo;
using KorvoTest::Quote;

class ScriptCommand : public ::testing::Test {
  protected:
    std::string File(const std::string& name, const std::string& text) {
        const fs::path file = temp_.path() / name;
        std::ofstream(file) << text;
        return Quote(file.string());
    }
    std::string Room() { return Quote(std::string(KORVO_EXAMPLES) + "/room.json"); }
    std::string Options() { return "--temp-dir " + Quote((temp_.path() / "host").string()); }

    KorvoTest::TempDir temp_;
};

TEST_F(ScriptCommand, PrintsTheValueOfEveryStatementAsAConsoleDoes) {
    const auto r = Korvo(Options() + " script " + Room() +
                         " -e 'korvo.get_cams(); n = korvo.num_helpers()\nprint $Cam_Free.name'");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "OK\n0\n\"Cam_Free\"\n\"Cam_Free\"\n");

    const auto quiet =
        Korvo(Options() + " script --quiet " + Room() + " " +
              File("count.korvo", "format \"% helpers\\n\" (korvo.num_helpers())\n"));
    EXPECT_EQ(quiet.exitCode, 0) << quiet.output;
    EXPECT_EQ(quiet.output, "0 helpers\n");
}

TEST_F(ScriptCommand, ExampleScriptRunsOnTheExampleRoom) {
    const auto r = Korvo(Options() + " script --quiet " + Room() + " " +
                         Quote(std::string(KORVO_EXAMPLES) + "/room_panoramas.korvo"));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Korvo plug-in " KORVO_VERSION "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"Cam_Free is back where it was\"\n"), std::string::npos) << r.output;
}

class ScriptCommandSlow : public ScriptCommand {};

TEST_F(ScriptCommandSlow, ExampleScriptWritesThePanoramaWithGeneratesAnswers) {
    const fs::path out = temp_.path() / "renders";
    const auto r = Korvo(Options() + " script --quiet " + Room() + " " +
                         Quote(std::string(KORVO_EXAMPLES) + "/room_panoramas.korvo") +
                         " --no-save --camera Cam_Free -o " + Quote(out.string()));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const fs::path panorama = out / "room_Cam_Free.jpg";
    EXPECT_NE(r.output.find(panorama.string() + "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Log: " + (out / "korvo_log.txt").string()), std::string::npos)
        << r.output;
    KorvoHost::ImageRgba8 strip;
    ASSERT_TRUE(KorvoHost::ReadJpeg(panorama, strip));
    EXPECT_EQ(strip.width, 12 * 1536);
    EXPECT_EQ(strip.height, 1536);
}

TEST_F(ScriptCommand, ErrorsNameTheFileLineAndColumnAndExitWithOne) {
    const std::string bad = File("bad.korvo", "korvo.get_cams()\nx = (1 + \n");
    auto r = Korvo(Options() + " script " + Room() + " " + bad);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("bad.korvo: line 3, column 1: "), std::string::npos) << r.output;
    // Nothing ran: the script is parsed whole first.
    EXPECT_EQ(r.output.find("OK"), std::string::npos) << r.output;

    r = Korvo(Options() + " script " + Room() + " -e 'korvo.get_cams()\n  korvo.render_all()'");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("korvo: -e: line 2, column 3: the interface korvo has no function "
                            "'render_all'"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.rfind("OK\n", 0), 0u) << r.output;
}

TEST_F(ScriptCommand, CommandLineMistakes) {
    auto r = Korvo(Options() + " script " + Room());
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_NE(r.output.find("FILE or -e TEXT"), std::string::npos) << r.output;
    r = Korvo(Options() + " script " + Room() + " " + File("a.korvo", "1") + " -e 2");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    r = Korvo(Options() + " script " + Room() + " " +
              Quote((temp_.path() / "none.korvo").string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("none.korvo: cannot read the script file"), std::string::npos)
        << r.output;
    r = Korvo("script --help");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("korvo.fix_cam"), std::string::npos) << r.output;
}

}  // namespace
