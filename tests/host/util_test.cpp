// The utility layer: file name splitting, path checks and the text-file writer.
#include "host/util.h"

#include <gtest/gtest.h>

#include <string>

#include "standalone_host/platform/utf8.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::ReadFile;

TEST(SplitFilename, FolderBaseAndExtension) {
    struct Case {
        const wchar_t* name;
        const wchar_t* folder;
        const wchar_t* base;
        const wchar_t* ext;
    };
    const Case cases[] = {
        {L"/scenes/room.max", L"/scenes", L"room", L".max"},
        {L"C:\\scenes\\room.max", L"C:\\scenes", L"room", L".max"},
        {L"mixed\\dir/a.b.jpg", L"mixed\\dir", L"a.b", L".jpg"},
        {L"room", L"", L"room", L""},
        {L"dir.d/room", L"dir.d", L"room", L""},
        {L"/a.jpg", L"", L"a", L".jpg"},
        {L"", L"", L"", L""},
    };
    for (const Case& c : cases) {
        MSTR folder, base, ext;
        SplitFilename(c.name, &folder, &base, &ext);
        EXPECT_EQ(folder, c.folder) << KorvoHost::ToUtf8(c.name);
        EXPECT_EQ(base, c.base) << KorvoHost::ToUtf8(c.name);
        EXPECT_EQ(ext, c.ext) << KorvoHost::ToUtf8(c.name);
    }
    MSTR base;
    SplitFilename(L"x/y.z", nullptr, &base, nullptr);
    EXPECT_EQ(base, L"y");
}

TEST(PathIsLegal, RefusesWhatTheFileSystemCannotHold) {
    using MaxSDK::Util::Path;
    EXPECT_TRUE(Path(L"Cam01").IsLegal());
    EXPECT_TRUE(Path(L"/out/Kamera \u00e9\u6f22").IsLegal());
    EXPECT_FALSE(Path(L"").IsLegal());
    EXPECT_FALSE(Path(static_cast<const MCHAR*>(nullptr)).IsLegal());
    for (const wchar_t* bad :
         {L"a<b", L"a>b", L"a:b", L"a\"b", L"a|b", L"a?b", L"a*b", L"a\tb", L"a\nb", L"a\x7f"}) {
        EXPECT_FALSE(Path(bad).IsLegal()) << KorvoHost::ToUtf8(bad);
    }
    EXPECT_TRUE(Path(std::wstring(255, L'n')).IsLegal());
    EXPECT_FALSE(Path(std::wstring(256, L'n')).IsLegal()) << "one name too long";
    EXPECT_FALSE(Path(std::wstring(128, L'\u00e9')).IsLegal()) << "256 bytes in UTF-8";
    std::wstring deep;
    for (int i = 0; i < 40; ++i) deep += L"/" + std::wstring(100, L'd');
    EXPECT_TRUE(Path(deep).IsLegal());
    deep += deep;
    EXPECT_FALSE(Path(deep).IsLegal()) << "whole path too long";
}

TEST(TextFileWriter, AppendsUtf8AsGiven) {
    KorvoTest::TempDir dir;
    const fs::path file = dir.path() / "log.txt";
    const std::wstring name = KorvoHost::FromPath(file);
    MaxSDK::Util::TextFile::Writer writer;
    EXPECT_FALSE(writer.IsFileOpen());
    EXPECT_FALSE(writer.Write(L"lost"));

    ASSERT_TRUE(writer.Open(name.c_str(), true));
    EXPECT_TRUE(writer.Write(L"caf\u00e9 \u6f22\r\n"));
    EXPECT_TRUE(writer.Write(L"abcdef", 3));
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(ReadFile(file), "caf\xc3\xa9 \xe6\xbc\xa2\r\nabc");
    writer.Close();
    EXPECT_FALSE(writer.IsFileOpen());

    ASSERT_TRUE(writer.Open(name.c_str(), true));
    writer.Write(L"+");
    writer.Close();
    EXPECT_EQ(ReadFile(file), "caf\xc3\xa9 \xe6\xbc\xa2\r\nabc+") << "appended";

    ASSERT_TRUE(writer.Open(name.c_str(), false));
    writer.Write(L"fresh");
    writer.Close();
    EXPECT_EQ(ReadFile(file), "fresh");

    EXPECT_FALSE(writer.Open(KorvoHost::FromPath(dir.path() / "missing" / "x").c_str(), true));
    EXPECT_FALSE(writer.Flush());
}

}  // namespace
