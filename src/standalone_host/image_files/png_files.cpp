// PNG through libpng. libpng reports errors by longjmp, so every libpng call runs inside one of
// the Run* functions below: their frames own nothing with a destructor, and everything that does
// (files, buffers, the png structs themselves) lives in the caller's frame.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <new>

#include "standalone_host/image_files/image_file_io.h"
#include "standalone_host/image_files/image_files.h"

namespace KorvoHost {
namespace {

using namespace ImageFileIo;

// libpng's own limit on width and height.
constexpr int kMaxPngSide = 0x7fffffff;

// Where the error callback leaves libpng's message; plain data, safe across the longjmp.
struct PngErrorText {
    char text[200] = "unknown libpng error";
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

class PngWriter {
  public:
    explicit PngWriter(PngErrorText& error)
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning)),
          info_(png_ ? png_create_info_struct(png_) : nullptr) {}
    ~PngWriter() { png_destroy_write_struct(&png_, &info_); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    png_structp png_;
    png_infop info_;
};

class PngReader {
  public:
    explicit PngReader(PngErrorText& error)
        : png_(png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning)),
          info_(png_ ? png_create_info_struct(png_) : nullptr) {}
    ~PngReader() { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    png_structp png_;
    png_infop info_;
};

bool RunPngWrite(png_structp png, png_infop info, std::FILE* file, RowSource& rows, int channels) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(rows.Width()), png_uint_32(rows.Height()), 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    // Fast over small: the host writes working files that are read back once, and libpng's
    // defaults (level 6, every filter tried on every row) cost about ten times as long for
    // files two thirds the size. Rendered faces filtered Up are mostly runs of zeros, which run
    // length matching finds sooner than level 1's hash chains do, and in fewer bytes.
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_write_info(png, info);
    for (int y = 0; y < rows.Height(); ++y) png_write_row(png, rows.Row(y, channels));
    png_write_end(png, info);
    return true;
}

// Reads the header and sets up expansion of every colour type to 8-bit RGBA.
bool RunPngReadHeader(png_structp png, png_infop info, std::FILE* file, png_uint_32& width,
                      png_uint_32& height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    return true;
}

bool RunPngReadRows(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

Encoder PngEncoder(PngChannels channels) {
    return [channels](std::FILE* file, RowSource& rows, std::string& problem) {
        PngErrorText error;
        PngWriter writer(error);
        if (!writer.info_) {
            problem = "out of memory";
            return false;
        }
        if (!RunPngWrite(writer.png_, writer.info_, file, rows,
                         channels == PngChannels::Rgba ? 4 : 3)) {
            problem = std::string("cannot write PNG: ") + error.text;
            return false;
        }
        return true;
    };
}

}  // namespace

ImageFileStatus WritePng(const std::filesystem::path& path, const ImageRgba8View& image,
                         PngChannels channels) {
    return WriteImage(path, RowSource(image), kMaxPngSide, PngEncoder(channels));
}

ImageFileStatus WritePng(const std::filesystem::path& path, const ImageRgbaFloatView& image,
                         PngChannels channels) {
    return WriteImage(path, RowSource(image), kMaxPngSide, PngEncoder(channels));
}

ImageFileStatus ReadPng(const std::filesystem::path& path, ImageRgba8& image) try {
    std::string problem;
    FileHandle file = OpenForReading(path, problem);
    if (!file) return Failure(path, problem);

    PngErrorText error;
    PngReader reader(error);
    if (!reader.info_) return Failure(path, "out of memory");
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!RunPngReadHeader(reader.png_, reader.info_, file.get(), width, height)) {
        return Failure(path, std::string("not a readable PNG: ") + error.text);
    }
    if (problem = CheckReadSize(width, height); !problem.empty()) return Failure(path, problem);
    if (png_get_rowbytes(reader.png_, reader.info_) != std::size_t(width) * 4) {
        return Failure(path, "unexpected row layout after expansion to RGBA");
    }

    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = &pixels[std::size_t(y) * width * 4];
    if (!RunPngReadRows(reader.png_, reader.info_, rows.data())) {
        return Failure(path, std::string("damaged PNG: ") + error.text);
    }
    image = {int(width), int(height), std::move(pixels)};
    return {};
} catch (const std::bad_alloc&) {
    return Failure(path, "out of memory");
}

}  // namespace KorvoHost
