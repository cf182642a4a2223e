#include "test_support.h"

#include <jpeglib.h>
#include <png.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace Korvo::test {

uint64_t Random::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::vector<uint8_t> MakePicture(int width, int height, int channels, uint64_t variant) {
    Random random(variant * 7919 + 17);
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    const int edgeX = width / 3 + int(variant % 7), edgeY = height / 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const double texture = 12 * std::sin(x * 0.9 + variant) * std::cos(y * 0.7);
            const bool box = x > edgeX && y > edgeY;
            for (int c = 0; c < channels; ++c) {
                double value = 40 + 150 * u * (c + 1) / 3 + 60 * v + texture;
                if (box) value = 200 - 40 * c + texture / 2;
                value += random.Below(9) - 4;
                pixels[(size_t(y) * width + x) * channels + c] =
                    static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
            }
            if (channels == 4) pixels[(size_t(y) * width + x) * 4 + 3] = uint8_t(x * 7 + y);
        }
    }
    return pixels;
}

double Psnr(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / a.size()));
}

// ---- JPEG ----

namespace {

struct StrictErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void FailDecode(j_common_ptr info) {
    auto* errors = reinterpret_cast<StrictErrors*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void EmitMessage(j_common_ptr info, int level) {
    if (level < 0) FailDecode(info);  // a warning: corrupt data
}

}  // namespace

DecodedJpeg DecodeJpegStrict(std::span<const uint8_t> jpeg) {
    DecodedJpeg result;
    jpeg_decompress_struct info;
    StrictErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = FailDecode;
    errors.manager.emit_message = EmitMessage;
    errors.message[0] = 0;
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        result.ok = false;
        result.error = errors.message;
        jpeg_destroy_decompress(&info);
        return result;
    }
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    result.width = int(info.output_width);
    result.height = int(info.output_height);
    result.components = info.output_components;
    const size_t rowBytes = size_t(result.width) * result.components;
    result.pixels.resize(rowBytes * result.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.pixels.data() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    result.ok = true;
    return result;
}

std::vector<uint8_t> EncodeJpegWithTurbo(const std::vector<uint8_t>& pixels, int width, int height,
                                         int channels, int subsampling, int quality) {
    static const int kSampling[] = {TJSAMP_GRAY, TJSAMP_444, TJSAMP_422, TJSAMP_420};
    if (channels == 1 && subsampling != 0) {
        // libjpeg-turbo makes colour files only from colour input.
        std::vector<uint8_t> rgb;
        for (uint8_t v : pixels) rgb.insert(rgb.end(), {v, v, v});
        return EncodeJpegWithTurbo(rgb, width, height, 3, subsampling, quality);
    }
    const int format = channels == 1 ? TJPF_GRAY : channels == 3 ? TJPF_RGB : TJPF_RGBX;
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle, pixels.data(), width, 0, height, format, &out, &size,
                                   kSampling[subsampling], quality, TJFLAG_ACCURATEDCT);
    std::vector<uint8_t> bytes;
    if (status == 0) bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    if (status != 0) throw std::runtime_error("libjpeg-turbo could not encode");
    return bytes;
}

std::vector<JpegSegment> ParseJpegHeaders(std::span<const uint8_t> jpeg) {
    std::vector<JpegSegment> segments;
    size_t at = 2;  // after SOI
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const uint8_t marker = jpeg[at + 1];
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size()) break;
        segments.push_back({marker, {jpeg.begin() + at + 4, jpeg.begin() + at + 2 + length}});
        at += 2 + length;
        if (marker == 0xDA) break;
    }
    return segments;
}

// ---- PNG ----

namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

struct ReadCursor {
    std::span<const uint8_t> bytes;
    size_t at = 0;
};

void ReadFromSpan(png_structp png, png_bytep data, png_size_t size) {
    auto* cursor = static_cast<ReadCursor*>(png_get_io_ptr(png));
    if (size > cursor->bytes.size() - cursor->at) png_error(png, "read past the end");
    std::memcpy(data, cursor->bytes.data() + cursor->at, size);
    cursor->at += size;
}

int ChannelsOf(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        default:
            return 1;
    }
}

}  // namespace

std::vector<uint8_t> WritePngWithLibpng(const PngSpec& shape, std::span<const uint8_t> rows) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write");
    }
    png_set_write_fn(png, &out, AppendToVector, nullptr);
    png_set_IHDR(png, info, uint32_t(shape.width), uint32_t(shape.height), shape.bitDepth,
                 shape.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, shape.level);
    if (shape.filters != 0) png_set_filter(png, 0, shape.filters);
    png_write_info(png, info);
    const size_t rowBytes =
        (size_t(shape.width) * ChannelsOf(shape.colorType) * shape.bitDepth + 7) / 8;
    for (int y = 0; y < shape.height; ++y) {
        png_write_row(png, const_cast<png_bytep>(rows.data() + rowBytes * y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

LibpngImage ReadPngWithLibpng(std::span<const uint8_t> bytes) {
    LibpngImage image;
    ReadCursor cursor{bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        image.ok = false;
        return image;
    }
    png_set_read_fn(png, &cursor, ReadFromSpan);
    png_read_info(png, info);
    image.width = png_get_image_width(png, info);
    image.height = png_get_image_height(png, info);
    image.bitDepth = png_get_bit_depth(png, info);
    image.colorType = png_get_color_type(png, info);
    image.interlace = png_get_interlace_type(png, info);
    if (image.interlace == PNG_INTERLACE_NONE) {
        const size_t rowBytes = png_get_rowbytes(png, info);
        image.rows.resize(rowBytes * image.height);
        for (uint32_t y = 0; y < image.height; ++y) {
            png_read_row(png, image.rows.data() + rowBytes * y, nullptr);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    image.ok = true;
    return image;
}

std::vector<uint8_t> Deflate(std::span<const uint8_t> data, int level) {
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), uLong(data.size()), level) != Z_OK) {
        throw std::runtime_error("zlib could not compress");
    }
    out.resize(size);
    return out;
}

PngBuilder& PngBuilder::Signature() {
    static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    return Raw(kSignature);
}

PngBuilder& PngBuilder::Header(uint32_t width, uint32_t height, int bitDepth, int colorType,
                               int compression, int filter, int interlace) {
    const uint8_t data[13] = {uint8_t(width >> 24), uint8_t(width >> 16),  uint8_t(width >> 8),
                              uint8_t(width),       uint8_t(height >> 24), uint8_t(height >> 16),
                              uint8_t(height >> 8), uint8_t(height),       uint8_t(bitDepth),
                              uint8_t(colorType),   uint8_t(compression),  uint8_t(filter),
                              uint8_t(interlace)};
    return Chunk("IHDR", data);
}

PngBuilder& PngBuilder::Chunk(const char* type, std::span<const uint8_t> data) {
    const size_t start = bytes_.size();
    const auto length = uint32_t(data.size());
    const uint8_t head[4] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                             uint8_t(length)};
    Raw(head);
    Raw({reinterpret_cast<const uint8_t*>(type), 4});
    Raw(data);
    const uint32_t crc = uint32_t(crc32(0, bytes_.data() + start + 4, uInt(data.size() + 4)));
    const uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8),
                             uint8_t(crc)};
    return Raw(tail);
}

PngBuilder& PngBuilder::BadCrcChunk(const char* type, std::span<const uint8_t> data) {
    Chunk(type, data);
    bytes_.back() ^= 1;
    return *this;
}

PngBuilder& PngBuilder::ImageData(std::span<const uint8_t> rawRows, size_t piece) {
    const std::vector<uint8_t> stream = Deflate(rawRows);
    for (size_t at = 0; at < stream.size(); at += piece) {
        Chunk("IDAT", std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
    }
    return *this;
}

PngBuilder& PngBuilder::End() { return Chunk("IEND", {}); }

PngBuilder& PngBuilder::Raw(std::span<const uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

// ---- Files ----

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace Korvo::test
