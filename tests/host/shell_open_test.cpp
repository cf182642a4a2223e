// The shell-open service: what a link names, and the address handed to the desktop.
#include "standalone_host/windows/shell_open.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "host/win32_platform.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/windows/front_end.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoHost::FromPath;
using KorvoHost::ShellTarget;

TEST(ShellOpen, FileLinksNameTheFolderWhateverCharactersItHolds) {
    KorvoTest::TempDir temp;
    // Each folder exists as named; the link carries it unescaped, as the completion dialog does.
    for (const char* name : {"two words", "take #1", "100% done", "a%20b", "caf\u00e9 #2 50%"}) {
        const fs::path folder = temp.path() / name;
        fs::create_directories(folder);
        EXPECT_EQ(ShellTarget(L"file://" + FromPath(folder)), FromPath(folder)) << name;
    }
    // An escaped link to a folder whose name holds no escape finds it too.
    fs::create_directories(temp.path() / "my renders");
    EXPECT_EQ(ShellTarget(L"file://" + FromPath(temp.path()) + L"/my%20renders"),
              FromPath(temp.path() / "my renders"));
    EXPECT_EQ(ShellTarget(L"FILE://localhost" + FromPath(temp.path() / "my renders")),
              FromPath(temp.path() / "my renders"));
    // Nothing there: the link's path as written; a malformed escape is no reason to fail.
    EXPECT_EQ(ShellTarget(L"file:///nowhere/100%"), L"/nowhere/100%");
    EXPECT_EQ(ShellTarget(L"https://korvo.app/login-redirect/"),
              L"https://korvo.app/login-redirect/");
}

TEST(ShellOpen, DesktopAddressesEscapeEverythingButThePath) {
    EXPECT_EQ(KorvoHost::FileUri(L"/tmp/take #1/100% a b"),
              "file:///tmp/take%20%231/100%25%20a%20b");
    EXPECT_EQ(KorvoHost::FileUri(L"/r/caf\u00e9?"), "file:///r/caf%C3%A9%3F");
}

class Recorder final : public KorvoHost::FrontEnd {
  public:
    Answer AnswerModal(HWND) override { return Answer::NoAnswer; }
    void Open(std::wstring_view verb, std::wstring_view target) override {
        this->verb = verb, this->target = target;
    }
    std::wstring verb, target;
};

TEST(ShellOpen, ShellExecuteHandsTheFrontEndThePath) {
    KorvoTest::TempDir temp;
    const fs::path folder = temp.path() / "x #1 %";
    fs::create_directories(folder);
    Recorder recorder;
    KorvoHost::SetFrontEnd(&recorder);
    const std::wstring link = L"file://" + FromPath(folder);
    const auto result = reinterpret_cast<std::uintptr_t>(
        ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, 5));
    KorvoHost::SetFrontEnd(nullptr);
    EXPECT_GT(result, 32u);
    EXPECT_EQ(recorder.verb, L"open");
    EXPECT_EQ(recorder.target, FromPath(folder));
}

}  // namespace
