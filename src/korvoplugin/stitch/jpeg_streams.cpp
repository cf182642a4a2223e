#include "stitch/jpeg_streams.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace jpge {

cfile_stream::~cfile_stream() { close(); }

bool cfile_stream::open(const char* fileName) {
    close();
    failed_ = false;
    file_ = Korvo::OpenFile(fileName, "wb");
    if (!file_) return false;
    // The encoders hand over large blocks: each goes out in one write, not through stdio's
    // small buffer.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    return true;
}

bool cfile_stream::close() {
    if (!file_) return false;
    const bool closed = Korvo::CloseFile(file_);
    if (!closed) failed_ = true;
    return !failed_;
}

bool cfile_stream::put_bytes(const void* data, size_t size) {
    if (!file_ || failed_) return false;
    if (size != 0 && std::fwrite(data, 1, size, file_.get()) != size) failed_ = true;
    return !failed_;
}

bool memory_stream::put_bytes(const void* data, size_t size) {
    if (size > capacity_ - size_) return false;
    if (size != 0) std::memcpy(buffer_ + size_, data, size);
    size_ += size;
    return true;
}

bool vector_stream::put_bytes(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    try {
        bytes_.insert(bytes_.end(), bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace jpge
