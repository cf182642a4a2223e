#pragma once

// The JPEG stitch streams its faces into bands: the image is never held whole. It is cut into
// bands of 16 rows (the encoder's MCU rows); every band lies within one row of cells. Work comes
// in units: decoding the 16 rows of one face into a band buffer, transforming a full band into
// coefficients, and entropy-coding the bands in order. Idle workers take the unit that keeps
// the coder busiest: the next band to code, then the next band to transform, then the earliest
// rows to decode.

#include <cstdint>
#include <vector>

#include "stitch/face_reader.h"
#include "stitch/jpeg_encoder.h"

namespace Korvo::stitching {

enum class PassOutcome { Written, FaceDamaged, NotWritten, OutOfMemory };

struct BandPass {
    PassOutcome outcome = PassOutcome::Written;
    std::vector<int> damagedCells;  // cells whose faces proved damaged in this pass
};

// One pass over an image `width` pixels wide: every band of `cells` (those marked in `black`
// stay black) into the encoder, whose headers are already written, up to but not including
// Finish.
BandPass RunBandPass(const std::vector<Cell>& cells, const std::vector<bool>& black, uint32_t width,
                     JpegBandEncoder& encoder);

}  // namespace Korvo::stitching
