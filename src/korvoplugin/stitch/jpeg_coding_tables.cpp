#include "stitch/jpeg_coding_tables.h"

#include <algorithm>

namespace Korvo::jpeg {

HuffmanCodes BuildCodes(const HuffmanSpec& table) {
    HuffmanCodes codes;
    uint32_t code = 0;
    int k = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.counts[length - 1]; ++i, ++k) {
            codes.entry[table.symbols[k]] = code++ << 5 | length;
        }
        code <<= 1;
    }
    return codes;
}

HuffmanSpec BuildOptimalSpec(const std::array<uint32_t, 256>& counts) {
    std::array<uint64_t, 257> freq{};
    std::copy(counts.begin(), counts.end(), freq.begin());
    freq[256] = 1;
    std::array<int, 257> codeSize{};
    std::array<int, 257> others;
    others.fill(-1);

    for (;;) {
        int v1 = -1, v2 = -1;
        for (int i = 0; i <= 256; ++i) {
            if (freq[i] == 0) continue;
            if (v1 < 0 || freq[i] < freq[v1]) {
                v2 = v1;
                v1 = i;
            } else if (v2 < 0 || freq[i] < freq[v2]) {
                v2 = i;
            }
        }
        if (v2 < 0) break;
        freq[v1] += freq[v2];
        freq[v2] = 0;
        for (++codeSize[v1]; others[v1] >= 0; ++codeSize[v1]) v1 = others[v1];
        others[v1] = v2;
        for (++codeSize[v2]; others[v2] >= 0; ++codeSize[v2]) v2 = others[v2];
    }

    std::array<int, 260> bits{};
    for (int i = 0; i <= 256; ++i) {
        if (codeSize[i] > 0) ++bits[codeSize[i]];
    }
    // Move codes longer than 16 bits up the tree: a pair at length i becomes one at i - 1, and a
    // leaf at a shorter length j becomes a pair at j + 1.
    for (int i = 259; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    int longest = 16;
    while (longest > 0 && bits[longest] == 0) --longest;
    if (longest > 0) bits[longest] -= 1;  // the reserved symbol's code

    HuffmanSpec table{};
    for (int i = 1; i <= 16; ++i) table.counts[i - 1] = static_cast<uint8_t>(bits[i]);
    for (int length = 1; length <= 256 && table.symbolCount < 256; ++length) {
        for (int symbol = 0; symbol < 256; ++symbol) {
            if (codeSize[symbol] == length) {
                table.symbols[table.symbolCount++] = static_cast<uint8_t>(symbol);
            }
        }
    }
    return table;
}

std::array<uint8_t, 64> ScaleTable(const uint8_t (&base)[64], int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::array<uint8_t, 64> table;
    for (int i = 0; i < 64; ++i) {
        table[i] = static_cast<uint8_t>(std::clamp((base[i] * scale + 50) / 100, 1, 255));
    }
    return table;
}

Quantizer MakeQuantizer(const std::array<uint8_t, 64>& table) {
    Quantizer quant;
    for (int i = 0; i < 64; ++i) {
        quant.offset[i] = 4.0f * table[i] + 0.5f;
        quant.scale[i] = 1.0f / (8.0f * table[i]);
    }
    return quant;
}

}  // namespace Korvo::jpeg
