#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>

namespace Korvo {

// Heap bytes that start at zero. Large blocks come from the system already cleared, so an image
// of tens of megabytes costs no pass over its memory until it is written.
class ZeroedBytes {
  public:
    ZeroedBytes() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit ZeroedBytes(size_t size) : size_(size) {
        if (size == 0) return;
        bytes_.reset(static_cast<uint8_t*>(std::calloc(size, 1)));
        if (!bytes_) throw std::bad_alloc();
    }

    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint8_t* begin() { return data(); }
    uint8_t* end() { return data() + size_; }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + size_; }
    uint8_t& operator[](size_t i) { return bytes_.get()[i]; }
    uint8_t operator[](size_t i) const { return bytes_.get()[i]; }
    operator std::span<const uint8_t>() const { return {data(), size_}; }

  private:
    struct Free {
        void operator()(uint8_t* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> bytes_;
    size_t size_ = 0;
};

// An image in memory: rows top to bottom without padding, channels R, G, B (, A).
struct PixelImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 24;  // 24 (RGB) or 32 (RGBA)
    ZeroedBytes pixels;

    size_t RowBytes() const { return size_t{width} * (bitsPerPixel / 8); }
};

// An all-black image; throws std::bad_alloc when it cannot be allocated.
inline PixelImage MakeBlackImage(uint32_t width, uint32_t height, uint32_t bitsPerPixel = 24) {
    PixelImage image{width, height, bitsPerPixel, {}};
    const size_t rowBytes = image.RowBytes();
    if (height != 0 && rowBytes > SIZE_MAX / height) throw std::bad_alloc();
    image.pixels = ZeroedBytes(rowBytes * height);
    return image;
}

}  // namespace Korvo
