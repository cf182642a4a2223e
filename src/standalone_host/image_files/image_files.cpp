#include "standalone_host/image_files/image_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

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

ImageFileStatus CopyImageFile(const std::filesystem::path& from,
                              const std::filesystem::path& to) try {
    std::string problem;
    ImageFileIo::FileHandle source = ImageFileIo::OpenForReading(from, problem);
    if (!source) return ImageFileIo::Failure(from, problem);
    ImageFileIo::PendingFile output(to);
    std::FILE* file = output.Open(problem);
    if (!file) return ImageFileIo::Failure(to, problem);
    std::vector<char> buffer(std::size_t(1) << 20);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), source.get());
        if (got > 0 && std::fwrite(buffer.data(), 1, got, file) != got) break;
        if (got < buffer.size()) break;
    }
    if (std::ferror(source.get())) return ImageFileIo::Failure(from, "cannot read the file");
    if (!output.Commit(problem)) return ImageFileIo::Failure(to, problem);
    return {};
} catch (const std::bad_alloc&) {
    return ImageFileIo::Failure(to, "out of memory");
}

}  // namespace KorvoHost
