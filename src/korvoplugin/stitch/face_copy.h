#pragma once

// Copy kernels from a decoded face row into a cell row of kFaceSize RGB pixels.

#include <cstddef>
#include <cstdint>

namespace Korvo::stitching {

// How a face row's samples map to RGB: pixel size in bytes, and the step between channels
// (2 for 16-bit samples, whose high byte comes first). No pixels for other colour types.
struct FaceSamples {
    uint32_t pixelBytes = 0;
    uint32_t sampleBytes = 0;
};

// Copies `count` pixels (at most kFaceSize) of `src` into the cell row: pixel j to pixel j, or
// to kFaceSize − 1 − j when mirrored left-right.
void CopyFacePixels(const FaceSamples& samples, bool mirror, const uint8_t* src, size_t count,
                    uint8_t* cellRow);

}  // namespace Korvo::stitching
