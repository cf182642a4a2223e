// Pieces shared by the PNG and JPEG coders: checked pixel views, files as RAII handles, and
// output that only replaces the target once it is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standalone_host/image_files/image_files.h"

namespace KorvoHost::ImageFileIo {

ImageFileStatus Failure(const std::filesystem::path& path, std::string_view problem);

// Empty when the view is usable: positive size that fits the given limit per side, pixel span
// large enough. Otherwise the problem in words.
std::string CheckSize(int width, int height, std::size_t valueCount, int maxSide);

// One source of 8-bit rows for an encoder, from either kind of caller view.
class RowSource {
  public:
    explicit RowSource(const ImageRgba8View& image);
    explicit RowSource(const ImageRgbaFloatView& image);

    int Width() const { return width_; }
    int Height() const { return height_; }
    std::size_t ValueCount() const;

    // Row y with `channels` (3 or 4) values per pixel. Valid until the call after next, so a
    // row and the one asked for before it can be read side by side. A copy reads the same
    // pixels with rows of its own, so copies can work on separate threads.
    const std::uint8_t* Row(int y, int channels);

  private:
    int width_;
    int height_;
    const std::uint8_t* bytes_ = nullptr;
    const float* floats_ = nullptr;
    std::size_t valueCount_;
    std::vector<std::uint8_t> scratch_[2];
    int nextScratch_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenForReading(const std::filesystem::path& path, std::string& problem);

// Writes one file of any format: checks the size against the format's limit per side, runs
// `encode` on a pending file and commits it. `encode` answers false with the problem in words.
using Encoder = std::function<bool(std::FILE* file, RowSource& rows, std::string& problem)>;
ImageFileStatus WriteImage(const std::filesystem::path& path, RowSource rows, int maxSide,
                           const Encoder& encode);

// Decoded images are capped at 2^28 pixels (1 GiB of RGBA), so that a hostile header cannot
// make a reader allocate without bound. Empty when the size is acceptable.
std::string CheckReadSize(std::uint64_t width, std::uint64_t height);

// A file written under a temporary name in the target's folder. Commit closes it and renames it
// over the target; without a successful Commit the temporary file is removed.
class PendingFile {
  public:
    explicit PendingFile(std::filesystem::path target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Null when the temporary file could not be created; `problem` then says why.
    std::FILE* Open(std::string& problem);
    bool Commit(std::string& problem);

  private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    FileHandle file_;
    bool committed_ = false;
};

}  // namespace KorvoHost::ImageFileIo
