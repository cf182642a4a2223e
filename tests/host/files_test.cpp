// Files and folders: attributes, deletion, folders, moves that never replace, moves across file
// systems, and the shell's tree delete.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "host/bitmap.h"
#include "host/win32_platform.h"
#include "standalone_host/platform/file_move.h"
#include "standalone_host/platform/placed_files.h"
#include "standalone_host/platform/utf8.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::ReadFile;
using KorvoTest::WriteFile;

std::wstring W(const fs::path& path) { return KorvoHost::FromPath(path); }

// Whether the process's record of placed files holds the file.
bool Placed(const fs::path& file) {
    const std::vector<fs::path> placed = KorvoHost::PlacedFiles();
    return std::find(placed.begin(), placed.end(), file) != placed.end();
}

// Names in a folder, to see that nothing was left behind.
std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A private folder on another file system than `here` (in /dev/shm), or an empty path when the
// machine has none.
class OtherFileSystemDir {
  public:
    explicit OtherFileSystemDir(const fs::path& here) {
        struct stat a {
        }, b{};
        if (::stat(here.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev) {
            return;
        }
        try {
            dir_.emplace("/dev/shm");
        } catch (const fs::filesystem_error&) {
            // No folder to be had there: no second file system for the test either.
        }
    }
    fs::path path() const { return dir_ ? dir_->path() : fs::path(); }

  private:
    std::optional<KorvoTest::TempDir> dir_;
};

TEST(Files, AttributesAndDeletion) {
    KorvoTest::TempDir dir;
    const fs::path file = dir.path() / "a.txt";
    WriteFile(file, "x");
    EXPECT_EQ(GetFileAttributesW(W(dir.path()).c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(W(file).c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(BMMIsFile(W(file).c_str()));
    EXPECT_FALSE(BMMIsFile(W(dir.path()).c_str()));

    EXPECT_EQ(GetFileAttributesW(W(dir.path() / "none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(W(file / "below").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    EXPECT_FALSE(DeleteFileW(W(dir.path()).c_str())) << "a folder is not a file";
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileW(W(file).c_str()));
    EXPECT_FALSE(BMMIsFile(W(file).c_str()));
    EXPECT_FALSE(DeleteFileW(W(file).c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Files, FolderCreationAndRemoval) {
    KorvoTest::TempDir dir;
    const fs::path folder = dir.path() / "new";
    EXPECT_TRUE(CreateDirectoryW(W(folder).c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(W(folder).c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(W(dir.path() / "missing" / "child").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    WriteFile(folder / "f", "x");
    EXPECT_FALSE(RemoveDirectoryW(W(folder).c_str()));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    fs::remove(folder / "f");
    EXPECT_TRUE(RemoveDirectoryW(W(folder).c_str()));
}

TEST(Files, MoveWithoutReplaceNeverReplaces) {
    KorvoTest::TempDir dir;
    const fs::path from = dir.path() / "from", to = dir.path() / "to";
    WriteFile(from, "new");
    WriteFile(to, "old");
    EXPECT_FALSE(MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadFile(from), "new");
    EXPECT_EQ(ReadFile(to), "old");

    // A dangling link is a taken name too, though nothing can be read through it.
    const fs::path link = dir.path() / "link";
    fs::create_symlink(dir.path() / "nowhere", link);
    EXPECT_FALSE(MoveFileExW(W(from).c_str(), W(link).c_str(), 0));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(Placed(to) || Placed(link)) << "a refused move placed nothing";

    EXPECT_TRUE(MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadFile(to), "new");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_TRUE(Placed(to));
}

TEST(Files, FailedMovesSayWhy) {
    KorvoTest::TempDir dir;
    const fs::path from = dir.path() / "from";
    EXPECT_FALSE(MoveFileExW(W(from).c_str(), W(dir.path() / "to").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    WriteFile(from, "x");
    EXPECT_FALSE(MoveFileExW(W(from).c_str(), W(dir.path() / "missing" / "to").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadFile(from), "x");
}

TEST(Files, MoveAcrossFileSystemsCopiesOnlyWhenAllowed) {
    KorvoTest::TempDir dir;
    const OtherFileSystemDir remote(dir.path());
    if (remote.path().empty()) GTEST_SKIP() << "no second file system";

    const fs::path from = dir.path() / "from", to = remote.path() / "to";
    WriteFile(from, std::string(3 << 20, 'k'));  // more than one copy buffer
    fs::permissions(from, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_FALSE(MoveFileExW(W(from).c_str(), W(to).c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE);

    WriteFile(remote.path() / "taken", "old");
    EXPECT_FALSE(
        MoveFileExW(W(from).c_str(), W(remote.path() / "taken").c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadFile(remote.path() / "taken"), "old");
    EXPECT_EQ(Listing(remote.path()), std::vector<std::string>{"taken"}) << "no partial copy left";
    EXPECT_FALSE(Placed(remote.path() / "taken"));

    ASSERT_TRUE(MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_TRUE(Placed(to));
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(ReadFile(to), std::string(3 << 20, 'k'));
    EXPECT_EQ(fs::status(to).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(Files, MoveByCopyKeepsTheSourceUntilTheCopyIsInPlace) {
    KorvoTest::TempDir dir;
    const fs::path from = dir.path() / "from";
    WriteFile(from, "data");

    // Nowhere to put the copy: the source stays, nothing else appears.
    EXPECT_FALSE(KorvoHost::MoveByCopy(from, dir.path() / "missing" / "to", false));
    EXPECT_EQ(ReadFile(from), "data");

    WriteFile(dir.path() / "taken", "old");
    EXPECT_FALSE(KorvoHost::MoveByCopy(from, dir.path() / "taken", false));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"from", "taken"}));

    EXPECT_TRUE(KorvoHost::MoveByCopy(from, dir.path() / "taken", true));
    EXPECT_EQ(ReadFile(dir.path() / "taken"), "data");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"taken"});

    fs::create_directory(dir.path() / "folder");
    EXPECT_FALSE(KorvoHost::MoveByCopy(dir.path() / "folder", dir.path() / "moved", false));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE) << "folders do not move by copying";
}

// A process killed while it copies (here by the signal of the file-size limit, at a known point
// of the copy) leaves no partial file in the destination's folder, and the source stays.
TEST(Files, MoveByCopyKilledPartWayLeavesNothingBehind) {
    KorvoTest::TempDir dir;
    const fs::path from = dir.path() / "from", folder = dir.path() / "to";
    fs::create_directory(folder);
    WriteFile(from, std::string(3 << 20, 'k'));
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit noCore{0, 0}, size{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::setrlimit(RLIMIT_FSIZE, &size);
        KorvoHost::MoveByCopy(from, folder / "moved", false);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    EXPECT_EQ(Listing(folder), std::vector<std::string>{});
    EXPECT_EQ(fs::file_size(from), 3u << 20);
}

TEST(Files, ShellDeleteRemovesTreesButNotWhatLinksPointTo) {
    KorvoTest::TempDir dir;
    const fs::path a = dir.path() / "a", b = dir.path() / "b", outside = dir.path() / "outside";
    fs::create_directories(a / "deep" / "er");
    WriteFile(a / "deep" / "er" / "f", "x");
    fs::create_directory(b);
    fs::create_directory(outside);
    WriteFile(outside / "keep", "k");
    fs::create_directory_symlink(outside, a / "link");

    std::wstring list = W(a) + L'\0' + W(dir.path() / "missing") + L'\0' + W(b) + L'\0';
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    EXPECT_EQ(SHFileOperationW(&operation), static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(b)) << "a missing item does not stop the others";
    EXPECT_EQ(ReadFile(outside / "keep"), "k");

    operation.wFunc = 1;
    EXPECT_EQ(SHFileOperationW(&operation), static_cast<int>(ERROR_INVALID_PARAMETER));
}

}  // namespace
