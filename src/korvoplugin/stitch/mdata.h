#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace base {

// The bytes of a whole file together with the file's path. Copies share the same bytes, which
// never change once read.
class mdata {
  public:
    mdata() = default;
    mdata(std::string path, std::vector<uint8_t> bytes);

    const uint8_t* data() const { return file_ ? file_->bytes.data() : nullptr; }
    size_t size() const { return file_ ? file_->bytes.size() : 0; }
    bool empty() const { return size() == 0; }
    std::span<const uint8_t> bytes() const { return {data(), size()}; }
    const std::string& path() const;

  private:
    struct File {
        std::string path;
        std::vector<uint8_t> bytes;
    };
    std::shared_ptr<const File> file_;
};

// Reads the file whole. Empty when it cannot be opened, is empty or cannot be read in full.
mdata ReadWholeFile(const char* path);

}  // namespace base
