// PNG and JPEG files for the standalone host's bitmaps: writers of its own (PNG) and through
// libjpeg-turbo, and readers that tests use to look at what was written.
//
// Pixels are RGBA, four values per pixel, rows top to bottom without padding. Nothing here
// throws; every failure comes back as an ImageFileStatus naming the file and the problem.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace KorvoHost {

struct ImageFileStatus {
    bool ok = true;
    std::string message;  // when !ok: the file and what went wrong

    explicit operator bool() const { return ok; }
};

// 8-bit RGBA pixels as stored in a file: colour sRGB-encoded, alpha linear.
struct ImageRgba8View {
    int width = 0;
    int height = 0;
    std::span<const std::uint8_t> pixels;  // width · height · 4 values
};

// Float RGBA pixels in linear light; written sRGB-encoded, clamped to 0..1.
struct ImageRgbaFloatView {
    int width = 0;
    int height = 0;
    std::span<const float> pixels;  // width · height · 4 values
};

// A decoded image, always expanded to 8-bit RGBA (alpha 255 where the file has none).
struct ImageRgba8 {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    ImageRgba8View View() const { return {width, height, pixels}; }
};

enum class PngChannels { Rgb, Rgba };

// Files are written to a temporary name beside the target and renamed into place, so a failed
// write never leaves a truncated file (and never damages an existing one).
ImageFileStatus WritePng(const std::filesystem::path& path, const ImageRgba8View& image,
                         PngChannels channels = PngChannels::Rgba);
ImageFileStatus WritePng(const std::filesystem::path& path, const ImageRgbaFloatView& image,
                         PngChannels channels = PngChannels::Rgba);

// Baseline JPEG, 4:2:0, quality 1..100 (clamped). Alpha is dropped.
ImageFileStatus WriteJpeg(const std::filesystem::path& path, const ImageRgba8View& image,
                          int quality = 90);
ImageFileStatus WriteJpeg(const std::filesystem::path& path, const ImageRgbaFloatView& image,
                          int quality = 90);

// Chooses the format by extension, case-insensitively: ".png" (RGBA) or ".jpg"/".jpeg".
ImageFileStatus WriteImageFile(const std::filesystem::path& path, const ImageRgba8View& image,
                               int jpegQuality = 90);
ImageFileStatus WriteImageFile(const std::filesystem::path& path, const ImageRgbaFloatView& image,
                               int jpegQuality = 90);

// A copy of an image file, made the same way: written beside the target and renamed into place.
ImageFileStatus CopyImageFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Any PNG libpng reads (palette, grey, 16-bit, interlaced) or any JPEG libjpeg reads, as 8-bit
// RGBA with the stored sample values (no gamma correction). Images over 2^28 pixels are refused.
ImageFileStatus ReadPng(const std::filesystem::path& path, ImageRgba8& image);
ImageFileStatus ReadJpeg(const std::filesystem::path& path, ImageRgba8& image);

// The pixel size from a JPEG's header, without decoding the image.
ImageFileStatus ReadJpegSize(const std::filesystem::path& path, int& width, int& height);

}  // namespace KorvoHost
