// JPEG through libjpeg-turbo. libjpeg reports errors by calling error_exit, which must not
// return; ours longjmps, so (as with libpng) every libjpeg call runs inside a Run* function whose
// frame owns nothing with a destructor.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "standalone_host/image_files/image_file_io.h"
#include "standalone_host/image_files/image_files.h"

namespace KorvoHost {
namespace {

using namespace ImageFileIo;

constexpr int kMaxJpegSide = JPEG_MAX_DIMENSION;

struct JpegErrors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    char text[JMSG_LENGTH_MAX] = "unknown libjpeg error";
};

void OnJpegError(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    errors->manager.format_message(info, errors->text);
    std::longjmp(errors->jump, 1);
}

// Warnings (for instance a truncated file, which libjpeg pads with grey) would otherwise go to
// stderr; a corrupt-data warning on read is turned into a failure below.
void OnJpegMessage(j_common_ptr) {}

void InstallErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnJpegError;
    errors.manager.output_message = OnJpegMessage;
}

// libjpeg's state for one image with its error handling; destroyed only once created.
template <typename Info, void (*Destroy)(Info*)>
struct JpegState {
    JpegErrors errors;
    Info info{};
    bool created = false;

    JpegState() = default;
    ~JpegState() {
        if (created) Destroy(&info);
    }
    JpegState(const JpegState&) = delete;
    JpegState& operator=(const JpegState&) = delete;
};
using JpegCompressor = JpegState<jpeg_compress_struct, jpeg_destroy_compress>;
using JpegDecompressor = JpegState<jpeg_decompress_struct, jpeg_destroy_decompress>;

bool RunJpegWrite(JpegCompressor& jpeg, std::FILE* file, RowSource& rows, int quality) {
    jpeg_compress_struct& info = jpeg.info;
    info.err = &jpeg.errors.manager;
    if (setjmp(jpeg.errors.jump)) return false;
    jpeg_create_compress(&info);
    jpeg.created = true;
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(rows.Width());
    info.image_height = JDIMENSION(rows.Height());
    // libjpeg-turbo reads RGBA rows directly and ignores the fourth value.
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // libjpeg's row type is not const, but compression only reads the rows.
        JSAMPROW row = const_cast<JSAMPROW>(rows.Row(int(info.next_scanline), 4));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

bool RunJpegReadHeader(JpegDecompressor& jpeg, std::FILE* file) {
    jpeg_decompress_struct& info = jpeg.info;
    info.err = &jpeg.errors.manager;
    if (setjmp(jpeg.errors.jump)) return false;
    jpeg_create_decompress(&info);
    jpeg.created = true;
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    return true;
}

bool RunJpegReadRows(JpegDecompressor& jpeg, std::uint8_t* pixels) {
    jpeg_decompress_struct& info = jpeg.info;
    if (setjmp(jpeg.errors.jump)) return false;
    const std::size_t stride = std::size_t(info.output_width) * 4;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + std::size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

Encoder JpegEncoder(int quality) {
    return [quality = std::clamp(quality, 1, 100)](std::FILE* file, RowSource& rows,
                                                   std::string& problem) {
        JpegCompressor jpeg;
        InstallErrors(jpeg.errors);
        if (!RunJpegWrite(jpeg, file, rows, quality)) {
            problem = std::string("cannot write JPEG: ") + jpeg.errors.text;
            return false;
        }
        return true;
    };
}

// Opens the file and reads its JPEG header into jpeg; the failure with its reason otherwise.
ImageFileStatus OpenJpeg(const std::filesystem::path& path, FileHandle& file,
                         JpegDecompressor& jpeg) {
    std::string problem;
    file = OpenForReading(path, problem);
    if (!file) return Failure(path, problem);
    InstallErrors(jpeg.errors);
    if (!RunJpegReadHeader(jpeg, file.get())) {
        return Failure(path, std::string("not a readable JPEG: ") + jpeg.errors.text);
    }
    return {};
}

}  // namespace

ImageFileStatus ReadJpegSize(const std::filesystem::path& path, int& width, int& height) {
    FileHandle file;
    JpegDecompressor jpeg;
    if (ImageFileStatus opened = OpenJpeg(path, file, jpeg); !opened) return opened;
    width = int(jpeg.info.output_width);
    height = int(jpeg.info.output_height);
    return {};
}

ImageFileStatus WriteJpeg(const std::filesystem::path& path, const ImageRgba8View& image,
                          int quality) {
    return WriteImage(path, RowSource(image), kMaxJpegSide, JpegEncoder(quality));
}

ImageFileStatus WriteJpeg(const std::filesystem::path& path, const ImageRgbaFloatView& image,
                          int quality) {
    return WriteImage(path, RowSource(image), kMaxJpegSide, JpegEncoder(quality));
}

ImageFileStatus ReadJpeg(const std::filesystem::path& path, ImageRgba8& image) try {
    FileHandle file;
    JpegDecompressor jpeg;
    if (ImageFileStatus opened = OpenJpeg(path, file, jpeg); !opened) return opened;
    std::string problem;
    const std::uint64_t width = jpeg.info.output_width;
    const std::uint64_t height = jpeg.info.output_height;
    if (problem = CheckReadSize(width, height); !problem.empty()) return Failure(path, problem);
    std::vector<std::uint8_t> pixels(width * height * 4);
    if (!RunJpegReadRows(jpeg, pixels.data())) {
        return Failure(path, std::string("damaged JPEG: ") + jpeg.errors.text);
    }
    if (jpeg.errors.manager.num_warnings > 0) {
        return Failure(path, "damaged JPEG: the compressed data is corrupt or truncated");
    }
    image = {int(width), int(height), std::move(pixels)};
    return {};
} catch (const std::bad_alloc&) {
    return Failure(path, "out of memory");
}

}  // namespace KorvoHost
