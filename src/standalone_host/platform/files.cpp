// Files and folders in their Win32 shape. Moves that must not replace anything rely on the kernel
// refusing an existing name atomically (renameat2 with RENAME_NOREPLACE, or link), so a file that
// appears between a caller's check and its move is never overwritten.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/bitmap.h"
#include "host/win32_platform.h"
#include "standalone_host/platform/file_move.h"
#include "standalone_host/platform/last_error.h"
#include "standalone_host/platform/placed_files.h"
#include "standalone_host/platform/utf8.h"

namespace fs = std::filesystem;

namespace {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows up here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Removes a file at scope exit unless released.
class FileRemover {
  public:
    explicit FileRemover(fs::path path) : path_(std::move(path)) {}
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;
    ~FileRemover() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    void Release() { path_.clear(); }

  private:
    fs::path path_;
};

BOOL Fail(int error) {
    KorvoHost::SetLastErrorFromErrno(error);
    return FALSE;
}

fs::path FolderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

bool SyncFolder(const fs::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && ::fsync(fd.Get()) == 0;
}

// Renames without ever replacing: fails with EEXIST when `to` exists, even if it appeared a
// moment ago. File systems without RENAME_NOREPLACE get link + unlink, which refuses an existing
// name just as atomically.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) return -1;
    if (S_ISDIR(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        errno = error;
        return -1;
    }
    return 0;
}

bool CopyData(int from, int to) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += put;
        }
    }
}

// CopyUnnamed's answer when the file system (or a missing /proc) allows no unnamed files.
constexpr int kNoUnnamedCopy = -1;

bool CopyComplete(int from, int to, const struct stat& info) {
    return CopyData(from, to) && ::fchmod(to, info.st_mode & 07777) == 0 && ::fsync(to) == 0;
}

// Copies into an unnamed file of `folder` and then links it in as `to`, never over an existing
// file: 0, an errno value, or kNoUnnamedCopy.
int CopyUnnamed(int from, const struct stat& info, const fs::path& folder, const fs::path& to) {
    UniqueFd copy(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!copy)
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoUnnamedCopy : errno;
    if (!CopyComplete(from, copy.Get(), info)) return errno;
    // linkat refuses an existing name, as a move without replace must.
    const std::string self = "/proc/self/fd/" + std::to_string(copy.Get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        const int error = errno;
        return error == ENOENT && ::access("/proc/self/fd", F_OK) != 0 ? kNoUnnamedCopy : error;
    }
    if (!copy.Close()) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

// Copies under a private name in `folder`, then renames it to `to`: 0 or an errno value.
int CopyUnderPrivateName(int from, const struct stat& info, const fs::path& folder,
                         const fs::path& to, bool replace) {
    std::string temporary = (folder / ("." + to.filename().string() + ".moving-XXXXXX")).string();
    UniqueFd copy(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!copy) return errno;
    FileRemover removeCopy(temporary);
    if (!CopyComplete(from, copy.Get(), info) || !copy.Close()) return errno;
    const int placed =
        replace ? ::rename(temporary.c_str(), to.c_str()) : RenameNoReplace(temporary, to);
    if (placed != 0) return errno;
    removeCopy.Release();
    return 0;
}

}  // namespace

namespace KorvoHost {

bool MoveByCopy(const fs::path& from, const fs::path& to, bool replace) {
    UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) return Fail(errno);
    struct stat info {};
    if (::fstat(source.Get(), &info) != 0) return Fail(errno);
    // Folders only move within one file system, as on the system this host stands in for.
    if (!S_ISREG(info.st_mode)) return Fail(EXDEV);
    const fs::path folder = FolderOf(to);

    // The copy gets its name only once it is complete, so the destination never shows a partial
    // file. Without replace it has no name at all until then, and even a process killed during
    // the copy leaves nothing behind.
    int placed = replace ? kNoUnnamedCopy : CopyUnnamed(source.Get(), info, folder, to);
    if (placed == kNoUnnamedCopy) {
        if (::lseek(source.Get(), 0, SEEK_SET) != 0) return Fail(errno);
        placed = CopyUnderPrivateName(source.Get(), info, folder, to, replace);
    }
    if (placed != 0) return Fail(placed);

    // The new name must be durable before the only other copy of the data goes away.
    if (!SyncFolder(folder)) {
        const int error = errno;
        if (!replace) ::unlink(to.c_str());
        return Fail(error);
    }
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        // Both copies exist now; without replace the new one is ours alone and can go again.
        if (!replace) ::unlink(to.c_str());
        return Fail(error);
    }
    return TRUE;
}

}  // namespace KorvoHost

DWORD GetFileAttributesW(LPCWSTR path) {
    struct stat info {};
    if (!path || ::stat(KorvoHost::ToUtf8(path).c_str(), &info) != 0) {
        KorvoHost::SetLastErrorFromErrno(path ? errno : EINVAL);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL DeleteFileW(LPCWSTR path) {
    if (!path) return Fail(EINVAL);
    const std::string name = KorvoHost::ToUtf8(path);
    struct stat info {};
    // Folders are not files: the system refuses to delete them here.
    if (::lstat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return Fail(EACCES);
    return ::unlink(name.c_str()) == 0 ? TRUE : Fail(errno);
}

BOOL CreateDirectoryW(LPCWSTR path, void*) {
    if (!path) return Fail(EINVAL);
    if (::mkdir(KorvoHost::ToUtf8(path).c_str(), 0777) == 0) return TRUE;
    return Fail(errno == ENOENT ? ENOTDIR : errno);
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    if (!path) return Fail(EINVAL);
    return ::rmdir(KorvoHost::ToUtf8(path).c_str()) == 0 ? TRUE : Fail(errno);
}

BOOL MoveFileExW(LPCWSTR source, LPCWSTR destination, DWORD flags) {
    if (!source || !destination) return Fail(EINVAL);
    const fs::path from = KorvoHost::ToPath(source);
    const fs::path to = KorvoHost::ToPath(destination);
    const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;

    const int moved = replace ? ::rename(from.c_str(), to.c_str()) : RenameNoReplace(from, to);
    if (moved == 0) {
        if (flags & MOVEFILE_WRITE_THROUGH) SyncFolder(FolderOf(to));
        KorvoHost::NotePlacedFile(to);
        return TRUE;
    }
    const int error = errno;
    if (error == EXDEV && (flags & MOVEFILE_COPY_ALLOWED)) {
        if (!KorvoHost::MoveByCopy(from, to, replace)) return FALSE;
        KorvoHost::NotePlacedFile(to);
        return TRUE;
    }
    // ENOENT with the source present means the destination's folder is missing.
    struct stat info {};
    if (error == ENOENT && ::lstat(from.c_str(), &info) == 0) return Fail(ENOTDIR);
    return Fail(error);
}

int SHFileOperationW(SHFILEOPSTRUCTW* operation) {
    if (!operation || operation->wFunc != FO_DELETE || !operation->pFrom) {
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    }
    operation->fAnyOperationsAborted = FALSE;
    DWORD result = ERROR_SUCCESS;
    for (LPCWSTR item = operation->pFrom; *item; item += std::wcslen(item) + 1) {
        std::error_code error;
        fs::path path = fs::absolute(KorvoHost::ToPath(item), error).lexically_normal();
        if (!path.has_filename()) path = path.parent_path();
        DWORD code = ERROR_SUCCESS;
        if (error || path == path.root_path()) {
            // Never a whole file system: a root here is a caller's bug, not a wish.
            code = ERROR_ACCESS_DENIED;
        } else if (!fs::exists(fs::symlink_status(path, error))) {
            code = ERROR_FILE_NOT_FOUND;
        } else if (fs::remove_all(path, error); error) {
            code = KorvoHost::Win32ErrorFromErrno(error.value());
        }
        if (result == ERROR_SUCCESS) result = code;
    }
    return static_cast<int>(result);
}

BOOL BMMIsFile(const MCHAR* filename) {
    struct stat info {};
    return filename && ::stat(KorvoHost::ToUtf8(filename).c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}
