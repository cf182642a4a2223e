#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "stitch/mdata.h"

namespace Korvo {

enum class PngError : uint32_t {
    None = 0,
    Signature = 1,          // no data, fewer than 8 bytes, or wrong signature
    Header = 2,             // nothing after the signature; first chunk damaged or not IHDR
    BitDepth = 3,           // bit depth not allowed for the colour type
    Chunk = 4,              // a later chunk runs past the end of the file or fails its CRC
    ImageData = 5,          // the image data could not be inflated, or there was none
    ColorType = 6,          // colour type not 0, 2, 4 or 6
    CompressionMethod = 7,  // compression method not 0
    FilterMethod = 8,       // filter method not 0
    Interlaced = 9,         // interlaced image
    FilterType = 10,        // a scanline with an unknown filter type
};

// A decoded PNG: header fields and the unfiltered scanlines, exactly as the file holds them (no
// pixel conversion). An error code may stand next to delivered scanlines (codes 4 and 10).
struct PngImage {
    PngError error = PngError::None;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t renderingIntent = 0;  // from sRGB
    uint32_t gamma = 45455;        // from gAMA, gamma × 100000
    uint8_t bitDepth = 0;
    uint8_t colorType = 0;  // 0 grey, 2 truecolour, 4 grey + alpha, 6 truecolour + alpha
    // Rows of one filter byte (0 once unfiltered) and PngRowBytes sample bytes. Holds fewer than
    // height rows, the last possibly cut short, when the image data ends early.
    std::vector<uint8_t> scanlines;
};

// Sample bytes per row (without the filter byte), from the header; saturates instead of wrapping.
uint64_t PngRowBytes(const PngImage& image);
// Distance between the starts of two rows in PngImage::scanlines.
inline uint64_t PngRowStride(const PngImage& image) { return PngRowBytes(image) + 1; }
// Bytes per pixel as unfiltering steps: bit depth × channels ÷ 8, at least 1.
uint32_t PngPixelBytes(const PngImage& image);

// Reads and decodes a PNG file. A file that cannot be opened, is empty or cannot be read in
// full gives the initial PngImage (error 0, no scanlines). Never throws.
PngImage ReadPngFile(const char* path);

// Decodes PNG bytes held in memory.
PngImage DecodePng(std::span<const uint8_t> file);

// Sees every row once it is final: filter byte first, then the samples; a last row cut short
// comes with fewer bytes.
using PngRowSink = std::function<void(uint32_t row, std::span<const uint8_t> bytes)>;

// DecodePng into `image`, reusing the memory its scanlines already hold, and showing each row to
// `onRow` (may be empty) while it is still in cache. When the image data then proves damaged the
// scanlines end empty: rows already shown are void. Answers false only when memory ran out.
bool DecodePngInto(std::span<const uint8_t> file, PngImage& image, const PngRowSink& onRow);

// The chunk walk alone: checks signature and header, fills the header fields, gamma and
// rendering intent, and gathers the image data chunks in file order. `error` is the verdict of
// the walk, before any inflation (DecodePng turns the codes that stop the walk early into 5).
struct PngChunkWalk {
    PngError error = PngError::None;
    std::vector<std::span<const uint8_t>> imageData;
    uint64_t imageDataBytes = 0;
};
PngChunkWalk WalkPngChunks(std::span<const uint8_t> file, PngImage& image);

}  // namespace Korvo
