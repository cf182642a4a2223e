#pragma once

// The encoder's first stage: the pixels of a band to quantised coefficients, block by block in
// coding order.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stitch/jpeg_encoder.h"
#include "stitch/jpeg_kernels.h"
#include "stitch/jpeg_layout.h"

namespace Korvo::jpeg {

// Sample planes of one band at full resolution and, for chroma, downsampled; and where each
// block of the band takes its samples from, in coding order.
struct Planes {
    int stride = 0;
    std::vector<uint8_t> y, cb, cr;
    int downStride = 0;
    std::vector<uint8_t> cbDown, crDown;
    std::vector<BlockSource> blocks;

    Planes(const Layout& layout, JpegSubsampling subsampling);
};

// What the transform of a band reads besides its pixels.
struct TransformSetup {
    int width;
    int height;
    int channels;
    JpegSubsampling subsampling;
    Layout layout;
    Quantizer quant[2];  // luminance, chrominance
    const Kernels* kernels;
};

// Fills `out` with the quantised blocks of one band, in coding order.
void TransformBand(const TransformSetup& in, int band, const uint8_t* rows, size_t rowStride,
                   Planes& planes, int16_t* out);

}  // namespace Korvo::jpeg
