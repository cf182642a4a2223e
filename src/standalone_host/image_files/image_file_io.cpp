#include "standalone_host/image_files/image_file_io.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "standalone_host/image_files/srgb.h"

namespace KorvoHost::ImageFileIo {
namespace {

std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

ImageFileStatus Failure(const std::filesystem::path& path, std::string_view problem) {
    return {false, path.string() + ": " + std::string(problem)};
}

std::string CheckSize(int width, int height, std::size_t valueCount, int maxSide) {
    if (width <= 0 || height <= 0) {
        return "image size " + std::to_string(width) + " x " + std::to_string(height) +
               " is empty or negative";
    }
    if (width > maxSide || height > maxSide) {
        return "image size " + std::to_string(width) + " x " + std::to_string(height) +
               " exceeds the format's limit of " + std::to_string(maxSide) + " pixels per side";
    }
    // Both sides are below 2^31, so the product of the three fits 64 bits.
    const std::uint64_t needed = std::uint64_t(width) * std::uint64_t(height) * 4u;
    if (valueCount < needed) {
        return "pixel buffer holds " + std::to_string(valueCount) + " values, " +
               std::to_string(needed) + " needed";
    }
    return {};
}

RowSource::RowSource(const ImageRgba8View& image)
    : width_(image.width),
      height_(image.height),
      bytes_(image.pixels.data()),
      valueCount_(image.pixels.size()) {}

RowSource::RowSource(const ImageRgbaFloatView& image)
    : width_(image.width),
      height_(image.height),
      floats_(image.pixels.data()),
      valueCount_(image.pixels.size()) {}

std::size_t RowSource::ValueCount() const { return valueCount_; }

const std::uint8_t* RowSource::Row(int y, int channels) {
    const std::size_t rgbaValues = std::size_t(width_) * 4;
    const std::size_t offset = std::size_t(y) * rgbaValues;
    if (bytes_ && channels == 4) return bytes_ + offset;

    std::vector<std::uint8_t>& scratch = scratch_[nextScratch_];
    nextScratch_ ^= 1;
    scratch.resize(rgbaValues);
    if (bytes_) {
        std::copy_n(bytes_ + offset, rgbaValues, scratch.begin());
    } else {
        EncodeSrgb8Rgba({floats_ + offset, rgbaValues}, scratch);
    }
    if (channels == 3) {
        // Pack RGBA to RGB in place: each write lands at or before the value it reads.
        for (int x = 0; x < width_; ++x) {
            std::copy_n(&scratch[std::size_t(x) * 4], 3, &scratch[std::size_t(x) * 3]);
        }
    }
    return scratch.data();
}

FileHandle OpenForReading(const std::filesystem::path& path, std::string& problem) {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) problem = "cannot open for reading: " + ErrnoText(errno);
    return file;
}

ImageFileStatus WriteImage(const std::filesystem::path& path, RowSource rows, int maxSide,
                           const Encoder& encode) try {
    std::string problem = CheckSize(rows.Width(), rows.Height(), rows.ValueCount(), maxSide);
    if (!problem.empty()) return Failure(path, problem);
    PendingFile output(path);
    std::FILE* file = output.Open(problem);
    if (!file) return Failure(path, problem);
    if (!encode(file, rows, problem) || !output.Commit(problem)) return Failure(path, problem);
    return {};
} catch (const std::bad_alloc&) {
    return Failure(path, "out of memory");
}

std::string CheckReadSize(std::uint64_t width, std::uint64_t height) {
    constexpr std::uint64_t kMaxReadPixels = std::uint64_t(1) << 28;
    if (width * height <= kMaxReadPixels) return {};
    return "image of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels is too large to read";
}

PendingFile::PendingFile(std::filesystem::path target) : target_(std::move(target)) {
    // The process id and a counter keep concurrent writers of one target apart.
    static std::atomic<unsigned> counter{0};
    temporary_ = target_;
    temporary_ += "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".partial";
}

PendingFile::~PendingFile() {
    if (committed_) return;
    const bool created = file_ != nullptr;
    file_.reset();
    if (created) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

std::FILE* PendingFile::Open(std::string& problem) {
    file_.reset(std::fopen(temporary_.c_str(), "wb"));
    if (!file_) problem = "cannot create the file: " + ErrnoText(errno);
    return file_.get();
}

bool PendingFile::Commit(std::string& problem) {
    std::FILE* file = file_.release();
    if (!file) {
        problem = "the file was never opened";
        return false;
    }
    const bool written = std::fflush(file) == 0 && !std::ferror(file);
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        problem = "cannot write the file: " + ErrnoText(written ? errno : writeError);
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error) {
        problem = "cannot move the finished file into place: " + error.message();
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace KorvoHost::ImageFileIo
