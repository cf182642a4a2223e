#include "stitch/stitcher.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "stitch/file_handle.h"
#include "stitch/jpeg_encoder.h"
#include "stitch/mdata.h"
#include "stitch/pixel_image.h"
#include "stitch/png_reader.h"
#include "stitch/png_writer.h"

namespace Korvo {

const char* const kStripFaceFiles[kFaceCount] = {
    "right_image_left.png",  "left_image_left.png",   "top_image_left.png",
    "bottom_image_left.png", "back_image_left.png",   "front_image_left.png",
    "right_image_right.png", "left_image_right.png",  "top_image_right.png",
    "bottom_image_right.png", "back_image_right.png", "front_image_right.png",
};

const char* const kGridFaceFiles[kFaceCount] = {
    "right_image_right.png", "back_image_right.png", "left_image_right.png",
    "front_image_right.png", "bottom_image_right.png", "top_image_right.png",
    "right_image_left.png",  "back_image_left.png",  "left_image_left.png",
    "front_image_left.png",  "bottom_image_left.png", "top_image_left.png",
};

namespace {

constexpr int kMaxWorkers = 4;

// Everything up to and including the last '/' or '\'; empty when there is none.
std::string FaceFolder(std::string_view path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? std::string()
                                               : std::string(path.substr(0, separator + 1));
}

bool EndsWithJpg(std::string_view path) {
    constexpr std::string_view kSuffix = ".jpg";
    if (path.size() < kSuffix.size()) return false;
    const std::string_view tail = path.substr(path.size() - kSuffix.size());
    return std::equal(tail.begin(), tail.end(), kSuffix.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
    });
}

// One face and the cell it fills. The cell lies inside the image, and nothing else writes to
// it, so faces can be painted in any order and on any thread.
struct FaceJob {
    std::string path;
    uint8_t* cell;       // the cell's top-left pixel
    size_t imageStride;  // bytes per image row
    bool mirror;         // left-right
};

// How a face row's samples map to RGB: pixel size in bytes, and the step between channels
// (2 for 16-bit samples, whose high byte comes first).
struct FaceSamples {
    uint32_t pixelBytes = 0;
    uint32_t sampleBytes = 0;
};

// Truecolour faces, with or without alpha; any other colour type gives no pixels.
FaceSamples SamplesOf(const PngImage& face) {
    const uint32_t sampleBytes = face.bitDepth == 16 ? 2 : 1;
    if (face.bitDepth != 8 && face.bitDepth != 16) return {};
    if (face.colorType == 2) return {3 * sampleBytes, sampleBytes};
    if (face.colorType == 6) return {4 * sampleBytes, sampleBytes};
    return {};
}

template <uint32_t PixelBytes, uint32_t SampleBytes, bool Mirror>
void CopyPixels(const uint8_t* src, size_t count, uint8_t* cellRow) {
    if constexpr (PixelBytes == 3 && !Mirror) {
        std::memcpy(cellRow, src, count * 3);
    } else {
        for (size_t j = 0; j < count; ++j, src += PixelBytes) {
            uint8_t* dst = cellRow + 3 * (Mirror ? kFaceSize - 1 - j : j);
            dst[0] = src[0];
            dst[1] = src[SampleBytes];
            dst[2] = src[2 * SampleBytes];
        }
    }
}

template <bool Mirror>
void CopyRow(const FaceSamples& samples, const uint8_t* src, size_t count, uint8_t* cellRow) {
    switch (samples.pixelBytes) {
        case 3: return CopyPixels<3, 1, Mirror>(src, count, cellRow);
        case 4: return CopyPixels<4, 1, Mirror>(src, count, cellRow);
        case 6: return CopyPixels<6, 2, Mirror>(src, count, cellRow);
        default: return CopyPixels<8, 2, Mirror>(src, count, cellRow);
    }
}

void ClearCellRows(const FaceJob& job, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r) {
        std::memset(job.cell + r * job.imageStride, 0, size_t{kFaceSize} * 3);
    }
}

// Reads the face and copies its rows into the cell as they are decoded. Rows past the cell's
// bottom and pixels past its right edge are dropped; so are rows of image data that prove
// damaged, leaving the cell black.
void PaintFace(const FaceJob& job, PngImage& face) {
    uint32_t painted = 0;
    try {
        const base::mdata file = base::ReadWholeFile(job.path.c_str());
        if (file.empty()) return;
        FaceSamples samples;
        const PngRowSink copyRow = [&](uint32_t row, std::span<const uint8_t> bytes) {
            if (row == 0) samples = SamplesOf(face);
            if (samples.pixelBytes == 0 || row >= kFaceSize || bytes.size() < 1) return;
            // The row holds what the data held: a row cut short gives fewer pixels.
            const size_t count = std::min<size_t>(
                {(bytes.size() - 1) / samples.pixelBytes, face.width, kFaceSize});
            uint8_t* cellRow = job.cell + row * job.imageStride;
            if (job.mirror) CopyRow<true>(samples, bytes.data() + 1, count, cellRow);
            else CopyRow<false>(samples, bytes.data() + 1, count, cellRow);
            painted = row + 1;
        };
        DecodePngInto(file.bytes(), face, copyRow);
        if (face.scanlines.empty()) ClearCellRows(job, painted);
    } catch (const std::exception&) {
        ClearCellRows(job, painted);
    }
}

void PaintFaces(const std::vector<FaceJob>& jobs) {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        PngImage face;  // its scanline memory serves every face this worker reads
        for (size_t i = next++; i < jobs.size(); i = next++) PaintFace(jobs[i], face);
    };
    const unsigned workers =
        std::min({std::max(std::thread::hardware_concurrency(), 1u), unsigned(kMaxWorkers),
                  unsigned(jobs.size())});
    std::vector<std::jthread> helpers;
    try {
        for (unsigned w = 1; w < workers; ++w) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than hoped for: the ones running take the remaining faces.
    }
    work();
}

uint32_t WriteImage(const char* path, const PixelImage& image, int32_t quality) {
    if (EndsWithJpg(path)) {
        const JpegParams params{quality, JpegSubsampling::H2V2, false, false};
        return WriteJpegFile(path, int(image.width), int(image.height), 3, image.pixels.data(),
                             params)
                   ? kStitchWritten
                   : kStitchNotWritten;
    }
    const std::vector<uint8_t> png = EncodePng(image);
    if (png.empty()) return kStitchNotWritten;
    FileHandle file = OpenFile(path, "wb");
    if (!file) return kStitchNotWritten;
    const bool written = std::fwrite(png.data(), 1, png.size(), file.get()) == png.size();
    return CloseFile(file) && written ? kStitchWritten : kStitchNotWritten;
}

struct CellOrigin {
    uint32_t x;
    uint32_t y;
};

uint32_t Stitch(const char* path, uint32_t width, uint32_t height, int faceCount,
                const char* const* names, bool mirror, CellOrigin (*origin)(int face),
                int32_t quality) {
    try {
        PixelImage image = MakeBlackImage(width, height);
        const std::string folder = FaceFolder(path);
        const size_t stride = image.RowBytes();
        std::vector<FaceJob> jobs;
        for (int face = 0; face < faceCount; ++face) {
            const CellOrigin at = origin(face);
            jobs.push_back({folder + names[face], image.pixels.data() + at.y * stride + at.x * 3,
                            stride, mirror});
        }
        PaintFaces(jobs);
        return WriteImage(path, image, quality);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    } catch (const std::exception&) {
        return kStitchNotWritten;
    }
}

}  // namespace

uint32_t StitchFaceStrip(const char* path, int32_t faceCount, int32_t quality) {
    if (path == nullptr) return kStitchNotWritten;
    if (faceCount < 1) return kStitchWritten;  // an empty image: nothing to write
    if (faceCount > kFaceCount) return kStitchBadFaceCount;
    return Stitch(path, uint32_t(faceCount) * kFaceSize, kFaceSize, faceCount, kStripFaceFiles,
                  true, [](int face) { return CellOrigin{uint32_t(face) * kFaceSize, 0}; },
                  quality);
}

uint32_t StitchFaceGrid(const char* path, int32_t quality) {
    if (path == nullptr) return kStitchNotWritten;
    return Stitch(path, 6 * kFaceSize, 2 * kFaceSize, kFaceCount, kGridFaceFiles, false,
                  [](int face) {
                      return CellOrigin{uint32_t(face % 6) * kFaceSize,
                                        uint32_t(face / 6) * kFaceSize};
                  },
                  quality);
}

}  // namespace Korvo
