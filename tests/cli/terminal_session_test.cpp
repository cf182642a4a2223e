// korvo generate at a terminal: the person answers the dialogs, watches the progress bar and may
// press Ctrl-C.
#include "cli/terminal_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::TerminalSession;

class Terminal : public ::testing::Test {
  protected:
    std::vector<std::string> Generate(std::vector<std::string> options) {
        std::vector<std::string> arguments = {"--temp-dir", (temp_.path() / "host").string(),
                                              "generate",
                                              std::string(KORVO_EXAMPLES) + "/room.json"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    }
    fs::path Scratch() const { return temp_.path() / "host" / "korvo_scratch"; }

    KorvoTest::TempDir temp_;
};

TEST_F(Terminal, CtrlCDuringAFaceCancelsTheRunAndLeavesOnlyTheLog) {
    const fs::path out = temp_.path() / "out";
    TerminalSession korvo(Generate({"--no-save", "--camera", "Cam_Free", "-o", out.string()}));
    ASSERT_TRUE(korvo.Started());
    // Every answer is given, yet a terminal shows the live bar.
    ASSERT_TRUE(korvo.Expect("Render in Progress", std::chrono::seconds(120)))
        << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("face 2/6", std::chrono::seconds(300))) << korvo.Transcript();
    korvo.PressCtrlC();
    EXPECT_EQ(korvo.Wait(std::chrono::seconds(300)), 130) << korvo.Transcript();
    EXPECT_NE(korvo.Transcript().find("cancelled"), std::string::npos) << korvo.Transcript();

    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(out)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<fs::path>{"korvo_log.txt"});
    EXPECT_FALSE(fs::exists(Scratch()) && !fs::is_empty(Scratch()))
        << "the working folder was left behind";
}

TEST_F(Terminal, CtrlCInTheFolderPromptEndsQuietlyBeforeAnyRender) {
    TerminalSession korvo(Generate({"--no-save"}));
    ASSERT_TRUE(korvo.Started());
    ASSERT_TRUE(korvo.Expect("Folder [")) << korvo.Transcript();
    korvo.PressCtrlC();
    EXPECT_EQ(korvo.Wait(), 130) << korvo.Transcript();
    EXPECT_EQ(korvo.Transcript().find("Render in Progress"), std::string::npos);
}

class TerminalSlow : public Terminal {};

TEST_F(TerminalSlow, APersonAnswersEveryDialogAndIsToldWhereThePanoramaIs) {
    const fs::path out = temp_.path() / "typed out";
    fs::create_directories(out);
    TerminalSession korvo(Generate({}));
    ASSERT_TRUE(korvo.Started());

    ASSERT_TRUE(korvo.Expect("2) Continue without saving")) << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("Choose 1-2")) << korvo.Transcript();
    korvo.Type("2\n");

    // A typed folder that does not exist is refused and the browser asks again.
    ASSERT_TRUE(korvo.Expect("Folder [")) << korvo.Transcript();
    korvo.Type((temp_.path() / "missing").string() + "\n");
    ASSERT_TRUE(korvo.Expect("(5)")) << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("Folder [")) << korvo.Transcript();
    korvo.Type(out.string() + "\n");

    // The check list: OK is not available until a box is checked.
    ASSERT_TRUE(korvo.Expect("2 [ ] Cam_Target")) << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("OK (not available), Cancel:")) << korvo.Transcript();
    korvo.Type("1\n");
    ASSERT_TRUE(korvo.Expect("1 [x] Cam_Free")) << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("(Enter: OK)")) << korvo.Transcript();
    korvo.Type("\n");

    ASSERT_TRUE(korvo.Expect("Render in Progress")) << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("Fixed point renders are complete!", std::chrono::seconds(600)))
        << korvo.Transcript();
    ASSERT_TRUE(korvo.Expect("Choose 1-2")) << korvo.Transcript();
    korvo.Type("0\n");
    EXPECT_EQ(korvo.Wait(), 0) << korvo.Transcript();

    // The refusal while the browser stayed open is no outcome; the folder typed is where the
    // panorama and the log are.
    const std::string& shown = korvo.Transcript();
    EXPECT_NE(shown.find((out / "room_Cam_Free.jpg").string()), std::string::npos) << shown;
    EXPECT_NE(shown.find("Log: " + (out / "korvo_log.txt").string()), std::string::npos) << shown;
    EXPECT_TRUE(fs::exists(out / "room_Cam_Free.jpg"));
}

}  // namespace
