#pragma once

// How a frame is cut into MCUs for a subsampling, and the blocks of each MCU.

#include <array>
#include <cstddef>
#include <cstdint>

#include "stitch/jpeg_encoder.h"

namespace Korvo::jpeg {

struct Layout {
    int components = 3;
    int mcuWidth = 8;  // pixels
    int mcuHeight = 8;
    int mcusAcross = 0;
    int mcuRows = 0;
    int blocksPerMcu = 1;
    // Per block of an MCU, in coding order: its component.
    std::array<uint8_t, 6> blockComponent{};
    uint8_t lumaSampling = 0x11;  // horizontal × 16 + vertical

    int PaddedWidth() const { return mcusAcross * mcuWidth; }
    size_t CoefficientsPerRow() const { return size_t(mcusAcross) * blocksPerMcu * 64; }
};

Layout MakeLayout(int width, int height, JpegSubsampling subsampling);

}  // namespace Korvo::jpeg
