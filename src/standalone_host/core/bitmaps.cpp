#include "standalone_host/core/bitmaps.h"

#include <atomic>
#include <mutex>

#include "standalone_host/image_files/image_files.h"
#include "standalone_host/platform/placed_files.h"
#include "standalone_host/platform/utf8.h"

namespace KorvoHost {
namespace {

std::atomic<int> gLiveBitmaps{0};
std::mutex gCreatedMutex;
std::vector<int> gCreatedTypes;

class HostBitmapManager final : public BitmapManager {
  public:
    Bitmap* Create(BitmapInfo* bi) override {
        if (!bi || bi->Width() == 0 || bi->Height() == 0) return nullptr;
        if (bi->Type() != BMM_TRUE_32 && bi->Type() != BMM_FLOAT_RGBA_32) return nullptr;
        // Freed by its DeleteThis.
        return new HostBitmap(bi->Width(), bi->Height(), bi->Type());
    }
};

HostBitmapManager gManager;

}  // namespace

HostBitmap::HostBitmap(int width, int height, int type)
    : width_(width), height_(height), type_(type) {
    const size_t values = static_cast<size_t>(width) * height * 4;
    if (type == BMM_FLOAT_RGBA_32)
        rgbaFloat_.assign(values, 0.0f);
    else
        rgba8_.assign(values, 0);
    ++gLiveBitmaps;
    std::lock_guard lock(gCreatedMutex);
    gCreatedTypes.push_back(type);
}

HostBitmap::~HostBitmap() { --gLiveBitmaps; }

void HostBitmap::DeleteThis() { delete this; }

BMMRES HostBitmap::OpenOutput(BitmapInfo* bi) {
    if (!bi || !*bi->Name()) return BMMRES_INVALIDFORMAT;
    outputName_ = bi->Name();
    return BMMRES_SUCCESS;
}

BMMRES HostBitmap::Write(BitmapInfo* bi, int) {
    const std::wstring name = bi && *bi->Name() ? std::wstring(bi->Name()) : outputName_;
    if (name.empty()) return BMMRES_INVALIDFORMAT;
    const auto path = ToPath(name);
    namespace fs = std::filesystem;
    if (lastWrite_ && lastWrite_->changes == changes_ && lastWrite_->path != path &&
        lastWrite_->path.extension() == path.extension()) {
        std::error_code sizeError, timeError;
        const std::uintmax_t size = fs::file_size(lastWrite_->path, sizeError);
        const fs::file_time_type time = fs::last_write_time(lastWrite_->path, timeError);
        if (!sizeError && !timeError && size == lastWrite_->size && time == lastWrite_->time &&
            CopyImageFile(lastWrite_->path, path).ok) {
            lastError_.clear();
            NotePlacedFile(path);
            return BMMRES_SUCCESS;
        }
    }
    const ImageFileStatus status =
        type_ == BMM_FLOAT_RGBA_32
            ? WriteImageFile(path, ImageRgbaFloatView{width_, height_, rgbaFloat_},
                             kHostJpegQuality)
            : WriteImageFile(path, ImageRgba8View{width_, height_, rgba8_}, kHostJpegQuality);
    lastError_ = status.ok ? std::string() : status.message;
    lastWrite_.reset();
    if (status.ok) {
        NotePlacedFile(path);
        std::error_code sizeError, timeError;
        WrittenFile written{path, changes_, fs::file_size(path, sizeError),
                            fs::last_write_time(path, timeError)};
        if (!sizeError && !timeError) lastWrite_ = std::move(written);
    }
    return status.ok ? BMMRES_SUCCESS : BMMRES_IOERROR;
}

int HostBitmap::Close(BitmapInfo*, int) { return 1; }

int LiveBitmapCount() { return gLiveBitmaps.load(); }

std::vector<int> CreatedBitmapTypes() {
    std::lock_guard lock(gCreatedMutex);
    return gCreatedTypes;
}

}  // namespace KorvoHost

BitmapManager* TheManager = &KorvoHost::gManager;
