#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stitch/file_handle.h"

namespace jpge {

// Where an encoder's bytes go.
class output_stream {
  public:
    virtual ~output_stream() = default;
    // Takes a block of bytes; false when it could not take all of them.
    virtual bool put_bytes(const void* data, size_t size) = 0;
};

// Writes to a file opened for binary writing. A failed write latches: every later block fails
// at once. A failed close counts as failure too.
class cfile_stream final : public output_stream {
  public:
    cfile_stream() = default;
    ~cfile_stream() override;
    cfile_stream(const cfile_stream&) = delete;
    cfile_stream& operator=(const cfile_stream&) = delete;

    // Creates or truncates the file; false when it cannot.
    bool open(const char* fileName);
    // Closes the file; true when it was open, every write succeeded and the close did too.
    bool close();
    bool is_open() const { return file_ != nullptr; }
    bool failed() const { return failed_; }

    bool put_bytes(const void* data, size_t size) override;

  private:
    Korvo::FileHandle file_;
    bool failed_ = false;
};

// Copies into a caller's buffer of fixed capacity. A block that does not fit is refused whole.
class memory_stream final : public output_stream {
  public:
    memory_stream(void* buffer, size_t capacity)
        : buffer_(static_cast<uint8_t*>(buffer)), capacity_(capacity) {}

    bool put_bytes(const void* data, size_t size) override;
    // Bytes written so far.
    size_t size() const { return size_; }

  private:
    uint8_t* buffer_;
    size_t capacity_;
    size_t size_ = 0;
};

// Collects everything in a growing byte vector.
class vector_stream final : public output_stream {
  public:
    bool put_bytes(const void* data, size_t size) override;
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace jpge
