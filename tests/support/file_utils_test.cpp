#include "support/file_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "host/win32_platform.h"
#include "standalone_host/platform/utf8.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Korvo::MoveFileSafe;
using KorvoTest::ReadFile;
using KorvoTest::WriteFile;

std::wstring W(const fs::path& path) { return KorvoHost::FromPath(path); }

class MoveFileSafeTest : public ::testing::Test {
  protected:
    MoveFileSafeTest() : source_(dir_.path() / "work" / "strip.jpg"), out_(dir_.path() / "out") {
        fs::create_directories(source_.parent_path());
        fs::create_directories(out_);
        WriteFile(source_, "panorama");
    }

    int Move(const fs::path& destination, bool replace) {
        return MoveFileSafe(W(source_), W(destination), replace);
    }

    KorvoTest::TempDir dir_;
    fs::path source_, out_;
};

TEST_F(MoveFileSafeTest, FreeDestinationTakesTheFileAsNamed) {
    EXPECT_EQ(Move(out_ / "a.jpg", false), Korvo::kMoveDone);
    EXPECT_EQ(ReadFile(out_ / "a.jpg"), "panorama");
    EXPECT_FALSE(fs::exists(source_));
}

TEST_F(MoveFileSafeTest, ReplaceLeavesOneFile) {
    WriteFile(out_ / "a.jpg", "old");
    EXPECT_EQ(Move(out_ / "a.jpg", true), Korvo::kMoveDone);
    EXPECT_EQ(ReadFile(out_ / "a.jpg"), "panorama");
    EXPECT_EQ(std::distance(fs::directory_iterator(out_), fs::directory_iterator()), 1);
}

TEST_F(MoveFileSafeTest, TakenNamesGetTheNextFreeNumber) {
    WriteFile(out_ / "a.jpg", "first");
    WriteFile(out_ / "a (1).jpg", "second");
    EXPECT_EQ(Move(out_ / "a.jpg", false), Korvo::kMoveDone);
    EXPECT_EQ(ReadFile(out_ / "a (2).jpg"), "panorama");
    EXPECT_EQ(ReadFile(out_ / "a.jpg"), "first");
    EXPECT_EQ(ReadFile(out_ / "a (1).jpg"), "second");

    WriteFile(source_, "again");
    WriteFile(out_ / "room", "x");
    EXPECT_EQ(Move(out_ / "room", false), Korvo::kMoveDone);
    EXPECT_EQ(ReadFile(out_ / "room (1)"), "again") << "a name without extension";
}

TEST_F(MoveFileSafeTest, NameTakenJustBeforeTheMoveIsNeverOverwritten) {
    // A dangling link looks free to the existence check, yet the name is taken when the move
    // comes: exactly what a file created by someone else in between looks like.
    fs::create_symlink(dir_.path() / "nowhere-a", out_ / "a.jpg");
    fs::create_symlink(dir_.path() / "nowhere-b", out_ / "a (1).jpg");
    EXPECT_EQ(Move(out_ / "a.jpg", false), Korvo::kMoveDone);
    EXPECT_EQ(ReadFile(out_ / "a (2).jpg"), "panorama");
    EXPECT_TRUE(fs::is_symlink(out_ / "a.jpg"));
    EXPECT_TRUE(fs::is_symlink(out_ / "a (1).jpg"));
    EXPECT_FALSE(fs::exists(dir_.path() / "nowhere-a"));
}

TEST_F(MoveFileSafeTest, FailuresLeaveTheSourceAndSayWhy) {
    EXPECT_EQ(MoveFileSafe(W(dir_.path() / "absent.jpg"), W(out_ / "b.jpg"), false),
              Korvo::kMoveFailed);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(fs::exists(out_ / "b.jpg"));

    fs::create_directories(out_ / "dir.jpg" / "inside");
    EXPECT_EQ(Move(out_ / "dir.jpg", true), Korvo::kMoveCannotReplace);
    EXPECT_EQ(Move(out_ / "missing" / "a.jpg", false), Korvo::kMoveFailed);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadFile(source_), "panorama");
}

TEST_F(MoveFileSafeTest, NumberedNamesAcrossFileSystems) {
    struct stat here {
    }, shm{};
    if (::stat(dir_.path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev) {
        GTEST_SKIP() << "no second file system";
    }
    const KorvoTest::TempDir remoteDir("/dev/shm");
    const fs::path& remote = remoteDir.path();
    WriteFile(remote / "a.jpg", "old");
    EXPECT_EQ(Move(remote / "a.jpg", false), Korvo::kMoveDone);
    EXPECT_EQ(ReadFile(remote / "a (1).jpg"), "panorama");
    EXPECT_EQ(ReadFile(remote / "a.jpg"), "old");
    EXPECT_FALSE(fs::exists(source_));
}

TEST(EnsureFolder, CreatesOnlyTheLastElement) {
    KorvoTest::TempDir dir;
    EXPECT_TRUE(Korvo::EnsureFolder(W(dir.path())));
    EXPECT_TRUE(Korvo::EnsureFolder(W(dir.path() / "korvo_scratch")));
    EXPECT_TRUE(fs::is_directory(dir.path() / "korvo_scratch"));
    EXPECT_FALSE(Korvo::EnsureFolder(W(dir.path() / "a" / "b")));
    WriteFile(dir.path() / "file", "x");
    EXPECT_FALSE(Korvo::EnsureFolder(W(dir.path() / "file")));
    EXPECT_EQ(ReadFile(dir.path() / "file"), "x");
}

TEST(DeleteFolderTree, DeletesFoldersWithEverythingInThemAndNothingElse) {
    KorvoTest::TempDir dir;
    const fs::path scratch = dir.path() / "korvo_scratch", keep = dir.path() / "keep";
    fs::create_directories(scratch / "sub");
    WriteFile(scratch / "sub" / "top_image_left.png", "png");
    fs::create_directory(keep);
    WriteFile(keep / "panorama.jpg", "jpg");
    fs::create_directory_symlink(keep, scratch / "link");
    Korvo::DeleteFolderTree(W(scratch));
    EXPECT_FALSE(fs::exists(scratch));
    EXPECT_EQ(ReadFile(keep / "panorama.jpg"), "jpg") << "links are removed, not followed";

    Korvo::DeleteFolderTree(W(keep / "panorama.jpg"));
    Korvo::DeleteFolderTree(W(dir.path() / "absent"));
    EXPECT_EQ(ReadFile(keep / "panorama.jpg"), "jpg");
}

TEST(TrimWhitespace, RemovesOnlyTheEnds) {
    EXPECT_EQ(Korvo::TrimWhitespace(L" \t Cam 01 \r\n"), L"Cam 01");
    EXPECT_EQ(Korvo::TrimWhitespace(L" \t \t"), L"");
    EXPECT_EQ(Korvo::TrimWhitespace(L""), L"");
    EXPECT_EQ(Korvo::TrimWhitespace(L"a  b"), L"a  b");
}

}  // namespace
