#pragma once

// The tables a frame is coded with: quantisation tables scaled for a quality, their quantisers,
// canonical Huffman codes, and Huffman tables fitted to an image's symbol counts.

#include <array>
#include <cstdint>

#include "stitch/jpeg_kernels.h"
#include "stitch/jpeg_tables.h"

namespace Korvo::jpeg {

// Per symbol: its code above bit 5, the code's length in bits 0 to 4.
struct HuffmanCodes {
    uint32_t entry[256] = {};
};

// The tables of one frame, as its headers carry them.
struct Tables {
    std::array<uint8_t, 64> quant[2];  // row-major
    HuffmanSpec dc[2], ac[2];          // luminance, chrominance
};

// Canonical codes of a table (T.81 Annex C): shortest codes first, counting up.
HuffmanCodes BuildCodes(const HuffmanSpec& table);

// Code lengths fitted to symbol counts, limited to 16 bits (T.81 Annex K.2). A reserved symbol
// with count 1 keeps any code from being all ones.
HuffmanSpec BuildOptimalSpec(const std::array<uint32_t, 256>& counts);

// Quality scaling: factor 5000 ÷ quality below 50, else 200 − 2 × quality, in percent.
std::array<uint8_t, 64> ScaleTable(const uint8_t (&base)[64], int quality);

Quantizer MakeQuantizer(const std::array<uint8_t, 64>& table);

}  // namespace Korvo::jpeg
