// Path helpers and the text-file writer of the host's utility layer.
#include "host/util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>

#include "standalone_host/platform/utf8.h"

void SplitFilename(const MSTR& name, MSTR* path, MSTR* filename, MSTR* ext) {
    const size_t separator = name.find_last_of(L"/\\");
    const size_t nameStart = separator == MSTR::npos ? 0 : separator + 1;
    const size_t dot = name.rfind(L'.');
    const size_t extStart = (dot == MSTR::npos || dot < nameStart) ? name.size() : dot;
    if (path) *path = separator == MSTR::npos ? MSTR() : name.substr(0, separator);
    if (filename) *filename = name.substr(nameStart, extStart - nameStart);
    if (ext) *ext = name.substr(extStart);
}

namespace MaxSDK::Util {

bool Path::IsLegal() const {
    if (path_.empty()) return false;
    for (wchar_t c : path_) {
        if (c < 0x20 || c == 0x7F ||
            std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos) {
            return false;
        }
    }
    // The file system counts bytes: the whole path and each of its names have a limit.
    const std::string bytes = KorvoHost::ToUtf8(path_);
    if (bytes.size() >= PATH_MAX) return false;
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('/', start);
        if (end == std::string::npos) end = bytes.size();
        if (end - start > NAME_MAX) return false;
        start = end + 1;
    }
    return true;
}

namespace TextFile {

struct Writer::Impl {
    int fd = -1;
};

namespace {

// Holds a write lock on the whole file while one piece of text goes in. O_APPEND alone keeps
// the appends of processes on one machine apart; on shared storage mounted by several machines
// (NFS) only a lock makes each append find the current end of the file. Where the file system
// has no locks, the write goes ahead without one.
class AppendLock {
  public:
    explicit AppendLock(int fd) : fd_(fd) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        while (::fcntl(fd_, F_SETLKW, &lock) != 0) {
            if (errno != EINTR) {
                fd_ = -1;
                break;
            }
        }
    }
    ~AppendLock() {
        if (fd_ < 0) return;
        struct flock lock {};
        lock.l_type = F_UNLCK;
        lock.l_whence = SEEK_SET;
        ::fcntl(fd_, F_SETLK, &lock);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

  private:
    int fd_;
};

}  // namespace

Writer::Writer() : impl_(std::make_unique<Impl>()) {}
Writer::~Writer() { Close(); }

bool Writer::Open(const MCHAR* fileName, bool append, unsigned int, int) {
    Close();
    if (!fileName) return false;
    const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    do {
        impl_->fd = ::open(KorvoHost::ToUtf8(fileName).c_str(), mode, 0666);
    } while (impl_->fd < 0 && errno == EINTR);
    return IsFileOpen();
}

// Each call goes to the file in one write, not through a buffer that splits long texts: several
// processes appending to one file (farm tasks sharing a log) never interleave within a text.
bool Writer::Write(const MCHAR* text, std::size_t length) {
    if (impl_->fd < 0 || !text) return false;
    if (length == static_cast<std::size_t>(-1)) length = std::wcslen(text);
    const std::string bytes = KorvoHost::ToUtf8(std::wstring_view(text, length));
    if (bytes.empty()) return true;
    const AppendLock lock(impl_->fd);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(impl_->fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Nothing is held back: every Write has reached the file already.
bool Writer::Flush() { return impl_->fd >= 0; }

void Writer::Close() {
    if (impl_->fd < 0) return;
    ::close(impl_->fd);
    impl_->fd = -1;
}

bool Writer::IsFileOpen() const { return impl_->fd >= 0; }

}  // namespace TextFile
}  // namespace MaxSDK::Util
