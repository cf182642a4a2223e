// Path helpers and the text-file writer of the host's utility layer.
#include "host/util.h"

#include <climits>
#include <cstdio>
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
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file;
};

Writer::Writer() : impl_(std::make_unique<Impl>()) {}
Writer::~Writer() = default;

bool Writer::Open(const MCHAR* fileName, bool append, unsigned int, int) {
    Close();
    if (!fileName) return false;
    impl_->file.reset(std::fopen(KorvoHost::ToUtf8(fileName).c_str(), append ? "abe" : "wbe"));
    return IsFileOpen();
}

bool Writer::Write(const MCHAR* text, std::size_t length) {
    if (!impl_->file || !text) return false;
    if (length == static_cast<std::size_t>(-1)) length = std::wcslen(text);
    const std::string bytes = KorvoHost::ToUtf8(std::wstring_view(text, length));
    return std::fwrite(bytes.data(), 1, bytes.size(), impl_->file.get()) == bytes.size();
}

bool Writer::Flush() { return impl_->file && std::fflush(impl_->file.get()) == 0; }

void Writer::Close() { impl_->file.reset(); }

bool Writer::IsFileOpen() const { return impl_->file != nullptr; }

}  // namespace TextFile
}  // namespace MaxSDK::Util
