#include "standalone_host/image_files/image_files.h"

#include <algorithm>
#include <cctype>

#include "standalone_host/image_files/image_file_io.h"

namespace KorvoHost {
namespace {

enum class FileKind { Png, Jpeg, Unknown };

FileKind KindOf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (extension == ".png") return FileKind::Png;
    if (extension == ".jpg" || extension == ".jpeg") return FileKind::Jpeg;
    return FileKind::Unknown;
}

template <typename View>
ImageFileStatus WriteByExtension(const std::filesystem::path& path, const View& image,
                                 int jpegQuality) {
    switch (KindOf(path)) {
        case FileKind::Png:
            return WritePng(path, image, PngChannels::Rgba);
        case FileKind::Jpeg:
            return WriteJpeg(path, image, jpegQuality);
        case FileKind::Unknown:
            break;
    }
    return ImageFileIo::Failure(path, "unknown image file type (use .png, .jpg or .jpeg)");
}

}  // namespace

ImageFileStatus WriteImageFile(const std::filesystem::path& path, const ImageRgba8View& image,
                               int jpegQuality) {
    return WriteByExtension(path, image, jpegQuality);
}

ImageFileStatus WriteImageFile(const std::filesystem::path& path, const ImageRgbaFloatView& image,
                               int jpegQuality) {
    return WriteByExtension(path, image, jpegQuality);
}

}  // namespace KorvoHost
