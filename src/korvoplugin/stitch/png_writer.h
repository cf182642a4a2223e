#pragma once

#include <cstdint>
#include <vector>

#include "stitch/pixel_image.h"

namespace Korvo {

// A complete 8-bit PNG file of a 24-bit (RGB) or 32-bit (RGBA) image: IHDR, sRGB, gAMA, IDAT
// chunks of at most 8192 bytes, IEND. Empty for an image without pixels, of another pixel size,
// or whose buffer is shorter than its rows.
std::vector<uint8_t> EncodePng(const PixelImage& image);

}  // namespace Korvo
