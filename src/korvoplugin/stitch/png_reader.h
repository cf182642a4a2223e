#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
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

// The chunk walk alone: checks signature and header, fills the header fields, gamma and
// rendering intent, and answers the walk's verdict before any inflation (DecodePng turns the
// codes that stop the walk before the image data into 5).
PngError WalkPngChunks(std::span<const uint8_t> file, PngImage& image);

// Decodes a PNG row by row, holding a few rows at a time: the same rows, in the same states, as
// DecodePng's scanlines. Not copyable; one thread at a time.
class PngRowReader {
  public:
    // Reads from memory, which must outlive the reader.
    explicit PngRowReader(std::span<const uint8_t> file);
    // Reads an open file from its current position; the file is not closed.
    explicit PngRowReader(std::FILE* file);
    ~PngRowReader();
    PngRowReader(const PngRowReader&) = delete;
    PngRowReader& operator=(const PngRowReader&) = delete;

    // Header fields, gamma and rendering intent as far as read; scanlines stay empty.
    const PngImage& header() const;

    // The next row: filter byte (0 once unfiltered), then samples; the last row may be cut
    // short. Empty once no more rows come. Valid until the next call.
    std::span<const uint8_t> NextRow();

    // Reads on past the last row wanted: checks the rest of the image data (a damaged end shows
    // here) and walks the remaining chunks.
    void Finish();

    // The image data proved damaged or cut short: the image has no rows after all, and rows
    // already handed out are void.
    bool damaged() const;

    // The error code as DecodePng reports it; final after Finish.
    PngError error() const;

    // Memory ran out while decoding (counts as damaged).
    bool outOfMemory() const;

  private:
    class Decoder;
    friend PngError WalkPngChunks(std::span<const uint8_t>, PngImage&);
    std::unique_ptr<Decoder> decoder_;
};

}  // namespace Korvo
