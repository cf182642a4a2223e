#pragma once

// Helpers of the stitch tests: reference coders (libpng, libjpeg-turbo), test pictures, files.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace Korvo::test {

// ---- Pictures ----

// Deterministic pseudo-random numbers (splitmix64).
class Random {
  public:
    explicit Random(uint64_t state) : state_(state) {}
    uint64_t Next();
    int Below(int bound) { return static_cast<int>(Next() % uint64_t(bound)); }

  private:
    uint64_t state_;
};

// Smooth gradients, hard edges, fine texture and a little grain: what a rendered face holds.
std::vector<uint8_t> MakePicture(int width, int height, int channels, uint64_t variant);

// Peak signal-to-noise ratio in dB over all bytes; 99 for identical buffers.
double Psnr(std::span<const uint8_t> a, std::span<const uint8_t> b);

// ---- JPEG ----

struct DecodedJpeg {
    bool ok = false;
    std::string error;  // the decoder's complaint, warnings included
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<uint8_t> pixels;  // RGB for 3 components, grey for 1
};

// Decodes with libjpeg, treating every warning as an error (like djpeg -strict).
DecodedJpeg DecodeJpegStrict(std::span<const uint8_t> jpeg);

// libjpeg-turbo's own baseline file at the same settings (accurate DCT, standard tables).
// `subsampling` as JpegSubsampling numbers it.
std::vector<uint8_t> EncodeJpegWithTurbo(const std::vector<uint8_t>& pixels, int width, int height,
                                         int channels, int subsampling, int quality);

struct JpegSegment {
    uint8_t marker;
    std::vector<uint8_t> payload;  // after the length field
};
// The marker segments up to and including SOS.
std::vector<JpegSegment> ParseJpegHeaders(std::span<const uint8_t> jpeg);

// ---- PNG ----

struct PngSpec {
    int width = 0;
    int height = 0;
    int colorType = 2;
    int bitDepth = 8;
    int filters = 0;  // PNG_FILTER_* mask; 0 for libpng's default
    int level = 6;    // zlib level
};

// A PNG written by libpng from packed rows as the file holds them (16-bit samples big-endian).
std::vector<uint8_t> WritePngWithLibpng(const PngSpec& shape, std::span<const uint8_t> rows);

struct LibpngImage {
    bool ok = false;
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    std::vector<uint8_t> rows;  // packed, no transforms
};
LibpngImage ReadPngWithLibpng(std::span<const uint8_t> png);

// A PNG assembled chunk by chunk, for files no encoder would write.
class PngBuilder {
  public:
    PngBuilder& Signature();
    PngBuilder& Header(uint32_t width, uint32_t height, int bitDepth, int colorType,
                       int compression = 0, int filter = 0, int interlace = 0);
    PngBuilder& Chunk(const char* type, std::span<const uint8_t> data);
    // A chunk whose CRC is off by one.
    PngBuilder& BadCrcChunk(const char* type, std::span<const uint8_t> data);
    // IDAT chunks of `piece` bytes holding `rawRows` deflated.
    PngBuilder& ImageData(std::span<const uint8_t> rawRows, size_t piece = 1 << 20);
    PngBuilder& End();
    PngBuilder& Raw(std::span<const uint8_t> bytes);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> Deflate(std::span<const uint8_t> data, int level = 6);

// ---- Files ----

// The tests' temporary folder, naming its files as the coders take them: as path strings.
class TempDir : public KorvoTest::TempDir {
  public:
    std::string operator/(const std::string& name) const { return (path() / name).string(); }
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes);

}  // namespace Korvo::test
