// The host's bitmaps: 8-bit RGBA (type 7) or float RGBA (type 17) in memory, written to files by
// extension (".png" through libpng, ".jpg" through libjpeg-turbo).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/bitmap.h"

namespace KorvoHost {

class HostBitmap final : public Bitmap {
  public:
    HostBitmap(int width, int height, int type);

    int Width() override { return width_; }
    int Height() override { return height_; }
    int Type() const { return type_; }
    BMMRES OpenOutput(BitmapInfo* bi) override;
    BMMRES Write(BitmapInfo* bi, int frame) override;
    int Close(BitmapInfo* bi, int flag) override;
    void DeleteThis() override;

    // Pixels, rows top to bottom, four values per pixel: one of the two is empty. Asking for
    // them counts as changing them.
    std::span<std::uint8_t> Rgba8() {
        ++changes_;
        return rgba8_;
    }
    std::span<float> RgbaFloat() {
        ++changes_;
        return rgbaFloat_;
    }

    // The message of the last failed write, for the host's log.
    const std::string& LastError() const { return lastError_; }

  private:
    ~HostBitmap() override;

    int width_, height_, type_;
    std::vector<std::uint8_t> rgba8_;
    std::vector<float> rgbaFloat_;
    std::wstring outputName_;
    std::string lastError_;

    // The last file written, so that the same pixels written again under another name of the
    // same type (a mono face serves both eyes) are copied instead of encoded once more, while
    // that file is still as it was written.
    struct WrittenFile {
        std::filesystem::path path;
        std::uint64_t changes = 0;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type time;
    };
    std::uint64_t changes_ = 0;
    std::optional<WrittenFile> lastWrite_;
};

// Bitmaps created and not yet deleted.
int LiveBitmapCount();
// The type of every bitmap created so far, in order.
std::vector<int> CreatedBitmapTypes();

// JPEG quality of the host's writer.
constexpr int kHostJpegQuality = 95;

}  // namespace KorvoHost
