#include "stitch/stitcher.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "stitch/band_pipeline.h"
#include "stitch/face_reader.h"
#include "stitch/file_handle.h"
#include "stitch/jpeg_encoder.h"
#include "stitch/pixel_image.h"
#include "stitch/png_writer.h"
#include "stitch/workers.h"

namespace Korvo {

const char* const kStripFaceFiles[kFaceCount] = {
    "right_image_left.png",   "left_image_left.png",  "top_image_left.png",
    "bottom_image_left.png",  "back_image_left.png",  "front_image_left.png",
    "right_image_right.png",  "left_image_right.png", "top_image_right.png",
    "bottom_image_right.png", "back_image_right.png", "front_image_right.png",
};

const char* const kGridFaceFiles[kFaceCount] = {
    "right_image_right.png", "back_image_right.png",   "left_image_right.png",
    "front_image_right.png", "bottom_image_right.png", "top_image_right.png",
    "right_image_left.png",  "back_image_left.png",    "left_image_left.png",
    "front_image_left.png",  "bottom_image_left.png",  "top_image_left.png",
};

namespace {

using namespace stitching;

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

// ---- JPEG output ---------------------------------------------------------------------------

// Reads every face not yet known to be black to its end; marks the damaged ones black.
void FindDamagedFaces(const std::vector<Cell>& cells, std::vector<bool>& black) {
    std::atomic<size_t> next{0};
    std::vector<uint8_t> damaged(cells.size(), 0);
    RunOnWorkers(WorkerCount(cells.size()), [&] {
        std::vector<uint8_t> row(kCellRowBytes);
        for (size_t c = next++; c < cells.size(); c = next++) {
            if (black[c]) continue;
            try {
                FaceReader face(cells[c]);
                for (uint32_t r = 0; r < kFaceSize; ++r) face.CopyNextRow(row.data());
                face.Finish();
                damaged[c] = face.damaged();
            } catch (const std::bad_alloc&) {
                damaged[c] = 1;
            }
        }
    });
    for (size_t c = 0; c < cells.size(); ++c) {
        if (damaged[c]) black[c] = true;
    }
}

uint32_t StitchJpeg(const char* path, const std::vector<Cell>& cells, uint32_t width,
                    uint32_t height, int32_t quality, bool& faceDamaged) {
    std::vector<bool> black(cells.size(), false);
    // A face found damaged part-way means the rows already written were wrong: start again
    // with that face black. After the first such pass every face is checked, so a second pass
    // is the last (unless files change meanwhile).
    for (size_t attempt = 0; attempt <= cells.size(); ++attempt) {
        jpge::cfile_stream stream;
        if (!stream.open(path)) return kStitchNotWritten;
        const JpegParams params{quality, JpegSubsampling::H2V2, false, false};
        JpegBandEncoder encoder(stream, int(width), int(height), 3, params);
        if (!encoder.accepted()) {
            stream.close();
            return kStitchNotWritten;
        }
        if (!encoder.WriteHeaders()) return kStitchNotWritten;
        const BandPass pass = RunBandPass(cells, black, width, encoder);
        switch (pass.outcome) {
            case PassOutcome::Written: {
                if (!encoder.Finish() || !stream.close()) return kStitchNotWritten;
                // Only damaged faces are marked black.
                faceDamaged = std::find(black.begin(), black.end(), true) != black.end();
                return kStitchWritten;
            }
            case PassOutcome::NotWritten:
                return kStitchNotWritten;
            case PassOutcome::OutOfMemory:
                return kStitchOutOfMemory;
            case PassOutcome::FaceDamaged:
                for (int cell : pass.damagedCells) black[size_t(cell)] = true;
                if (attempt == 0) FindDamagedFaces(cells, black);
                break;
        }
    }
    return kStitchNotWritten;
}

// ---- PNG output: the whole image in memory -------------------------------------------------

uint32_t StitchPng(const char* path, const std::vector<Cell>& cells, uint32_t width,
                   uint32_t height, bool& faceDamaged) {
    PixelImage image = MakeBlackImage(width, height);
    const size_t stride = image.RowBytes();
    std::atomic<size_t> next{0};
    std::atomic<bool> anyDamaged{false};
    RunOnWorkers(WorkerCount(cells.size()), [&] {
        for (size_t c = next++; c < cells.size(); c = next++) {
            uint8_t* cell = image.pixels.data() + cells[c].y * stride + size_t(cells[c].x) * 3;
            bool damaged = true;
            try {
                FaceReader face(cells[c]);
                for (uint32_t r = 0; r < kFaceSize; ++r) face.CopyNextRow(cell + r * stride);
                face.Finish();
                damaged = face.damaged();
            } catch (const std::bad_alloc&) {
            }
            if (damaged) {
                anyDamaged = true;
                for (uint32_t r = 0; r < kFaceSize; ++r)
                    std::memset(cell + r * stride, 0, kCellRowBytes);
            }
        }
    });
    const std::vector<uint8_t> png = EncodePng(image);
    if (png.empty()) return kStitchNotWritten;
    FileHandle file = OpenFile(path, "wb");
    if (!file) return kStitchNotWritten;
    const bool written = std::fwrite(png.data(), 1, png.size(), file.get()) == png.size();
    if (!CloseFile(file) || !written) return kStitchNotWritten;
    faceDamaged = anyDamaged;
    return kStitchWritten;
}

uint32_t Stitch(const char* path, const std::vector<Cell>& cells, uint32_t width, uint32_t height,
                int32_t quality, bool* faceDamaged) {
    bool damaged = false;
    uint32_t result;
    try {
        result = EndsWithJpg(path) ? StitchJpeg(path, cells, width, height, quality, damaged)
                                   : StitchPng(path, cells, width, height, damaged);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    } catch (const std::exception&) {
        return kStitchNotWritten;
    }
    if (faceDamaged) *faceDamaged = damaged;
    return result;
}

}  // namespace

uint32_t StitchFaceStrip(const char* path, int32_t faceCount, int32_t quality, bool* faceDamaged) {
    if (faceDamaged) *faceDamaged = false;
    if (path == nullptr) return kStitchNotWritten;
    if (faceCount < 1) return kStitchWritten;  // an empty image: nothing to write
    if (faceCount > kFaceCount) return kStitchBadFaceCount;
    try {
        const std::string folder = FaceFolder(path);
        std::vector<Cell> cells;
        for (int face = 0; face < faceCount; ++face) {
            cells.push_back({folder + kStripFaceFiles[face], uint32_t(face) * kFaceSize, 0, true});
        }
        return Stitch(path, cells, uint32_t(faceCount) * kFaceSize, kFaceSize, quality,
                      faceDamaged);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    }
}

uint32_t StitchFaceGrid(const char* path, int32_t quality, bool* faceDamaged) {
    if (faceDamaged) *faceDamaged = false;
    if (path == nullptr) return kStitchNotWritten;
    try {
        const std::string folder = FaceFolder(path);
        std::vector<Cell> cells;
        for (int face = 0; face < kFaceCount; ++face) {
            cells.push_back({folder + kGridFaceFiles[face], uint32_t(face % 6) * kFaceSize,
                             uint32_t(face / 6) * kFaceSize, false});
        }
        return Stitch(path, cells, 6 * kFaceSize, 2 * kFaceSize, quality, faceDamaged);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    }
}

}  // namespace Korvo
