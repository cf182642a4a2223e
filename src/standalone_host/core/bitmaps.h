// The host's bitmaps: 8-bit RGBA (type 7) or float RGBA (type 17) in memory, written to files by
// extension (".png" through libpng, ".jpg" through libjpeg-turbo).
#pragma once

#include <cstdint>
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

    // Pixels, rows top to bottom, four values per pixel: one of the two is empty.
    std::span<std::uint8_t> Rgba8() { return rgba8_; }
    std::span<float> RgbaFloat() { return rgbaFloat_; }

    // The message of the last failed write, for the host's log.
    const std::string& LastError() const { return lastError_; }

  private:
    ~HostBitmap() override;

    int width_, height_, type_;
    std::vector<std::uint8_t> rgba8_;
    std::vector<float> rgbaFloat_;
    std::wstring outputName_;
    std::string lastError_;
};

// Bitmaps created and not yet deleted.
int LiveBitmapCount();
// The type of every bitmap created so far, in order.
std::vector<int> CreatedBitmapTypes();

// JPEG quality of the host's writer.
constexpr int kHostJpegQuality = 95;

}  // namespace KorvoHost
