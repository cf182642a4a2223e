// PNG files: written by the host's own banded encoder, read through libpng. libpng reports
// errors by longjmp, so every libpng call runs inside one of the Run* functions below: their
// frames own nothing with a destructor, and everything that does (files, buffers, the png
// structs themselves) lives in the caller's frame.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <new>

#include "standalone_host/image_files/image_file_io.h"
#include "standalone_host/image_files/image_files.h"
#include "standalone_host/image_files/png_writer.h"

namespace KorvoHost {
namespace {

using namespace ImageFileIo;

// The format's limit on width and height.
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
        const int values = channels == PngChannels::Rgba ? 4 : 3;
        return EncodePngInBands(file, rows, values,
                                PngBandCount(rows.Width(), rows.Height(), values), problem);
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
