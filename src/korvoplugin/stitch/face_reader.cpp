#include "stitch/face_reader.h"

#include <algorithm>
#include <cstring>

namespace Korvo::stitching {
namespace {

FaceSamples SamplesOf(const PngImage& face) {
    if (face.bitDepth != 8 && face.bitDepth != 16) return {};
    const uint32_t sampleBytes = face.bitDepth / 8;
    if (face.colorType == 2) return {3 * sampleBytes, sampleBytes};
    if (face.colorType == 6) return {4 * sampleBytes, sampleBytes};
    return {};
}

}  // namespace

FaceReader::FaceReader(const Cell& cell) : cell_(cell) {
    file_ = OpenFile(cell.path.c_str(), "rb");
    if (!file_) return;
    reader_ = std::make_unique<PngRowReader>(file_.get());
    samples_ = SamplesOf(reader_->header());
}

void FaceReader::CopyNextRow(uint8_t* cellRow) {
    size_t count = 0;
    if (samples_.pixelBytes != 0) {
        const auto row = reader_->NextRow();
        if (!row.empty()) {
            count = std::min<size_t>(
                {(row.size() - 1) / samples_.pixelBytes, reader_->header().width, kFaceSize});
            CopyFacePixels(samples_, cell_.mirror, row.data() + 1, count, cellRow);
        }
    }
    const size_t black = (kFaceSize - count) * 3;
    std::memset(cell_.mirror ? cellRow : cellRow + count * 3, 0, black);
}

}  // namespace Korvo::stitching
