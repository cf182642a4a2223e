#include "stitch/mdata.h"

#include <filesystem>
#include <limits>

#include "stitch/file_handle.h"

namespace base {

mdata::mdata(std::string path, std::vector<uint8_t> bytes)
    : file_(std::make_shared<const File>(File{std::move(path), std::move(bytes)})) {}

const std::string& mdata::path() const {
    static const std::string kNoPath;
    return file_ ? file_->path : kNoPath;
}

mdata ReadWholeFile(const char* path) {
    // Directories open, and seek to a nonsense size, on some systems.
    std::error_code error;
    if (path == nullptr || !std::filesystem::is_regular_file(path, error)) return {};
    Korvo::FileHandle file = Korvo::OpenFile(path, "rb");
    if (!file) return {};
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return {};
    const long size = std::ftell(file.get());
    // ftell answers -1 for streams without a size (pipes, directories).
    if (size <= 0 || static_cast<unsigned long>(size) > std::numeric_limits<size_t>::max()) {
        return {};
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return {};
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return {};
    return mdata(path, std::move(bytes));
}

}  // namespace base
