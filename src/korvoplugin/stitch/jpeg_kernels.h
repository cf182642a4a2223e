#pragma once

// Sample kernels of the JPEG encoder: colour conversion, downsampling, and the forward DCT with
// quantisation. Two sets give identical results: a portable one and one for processors with
// AVX2, picked at run time.

#include <cstddef>
#include <cstdint>

namespace Korvo::jpeg {

// Quantisation of one table in row-major order: |c| → ⌊(|c| + offset) · scale⌋ with offset =
// 4q + ½ and scale = 1 ÷ 8q. The DCT leaves its coefficients eight times too large, hence 8q.
// |c| stays below 2^14, so the quotient is exact: the product's rounding error stays below
// ½ ÷ 8q, the distance between (|c| + 4q + ½) ÷ 8q and the nearest integer.
struct Quantizer {
    alignas(32) float offset[64];
    alignas(32) float scale[64];
};

// An 8 × 8 block of samples, its rows `stride` bytes apart, and its quantisation table.
struct BlockSource {
    const uint8_t* samples;
    uint32_t stride;
    uint32_t table;
};

struct Kernels {
    // RGB or RGBA (`channels` 3 or 4) to Y, Cb, Cr; or to Y alone.
    void (*convertYCbCr)(const uint8_t* src, int channels, int width, uint8_t* y, uint8_t* cb,
                         uint8_t* cr);
    void (*convertLuma)(const uint8_t* src, int channels, int width, uint8_t* y);
    // 2 × 2 averages (sum + bias) >> 2, the bias alternating 0, 2 along a row and starting
    // with the other value on odd output rows.
    void (*downsampleH2V2)(const uint8_t* top, const uint8_t* bottom, int outWidth, int outRow,
                           uint8_t* out);
    // 2 × 1 averages, sum >> 1.
    void (*downsampleH2V1)(const uint8_t* row, int outWidth, uint8_t* out);
    // Forward DCT (the Independent JPEG Group's accurate integer one) and quantisation of each
    // block, written as 64 coefficients in zigzag order.
    void (*transformBlocks)(const BlockSource* blocks, size_t count, const Quantizer* const* tables,
                            int16_t* out);
};

const Kernels& PortableKernels();
// The fastest set this processor runs.
const Kernels& FastKernels();

}  // namespace Korvo::jpeg
