#pragma once

#include <cstdint>

#include "stitch/jpeg_streams.h"

namespace Korvo {

enum class JpegSubsampling : int32_t {
    YOnly = 0,  // greyscale: one component
    H1V1 = 1,   // 4:4:4
    H2V1 = 2,   // 4:2:2
    H2V2 = 3,   // 4:2:0
};

struct JpegParams {
    int32_t quality = 85;  // 1 to 100
    JpegSubsampling subsampling = JpegSubsampling::H2V2;
    bool noChromaDiscrimination = false;  // chroma quantised with the luminance table
    bool twoPass = false;                 // Huffman tables fitted to the image in a first pass
};

// Writes a baseline JFIF file of `pixels` (rows top to bottom, width × channels bytes each, no
// padding; channels 1 grey, 3 RGB, 4 RGBA with alpha ignored). The file is created first, so
// refused parameters leave it behind empty. True when every byte was written and the file closed.
bool WriteJpegFile(const char* fileName, int width, int height, int channels,
                   const uint8_t* pixels, const JpegParams& params);

// The same encoding into any stream (nothing is opened or closed). False when the parameters are
// refused (width or height not 1 to 65535, channels not 1, 3 or 4, quality not 1 to 100,
// subsampling not 0 to 3), memory runs out, or the stream refuses a block.
bool EncodeJpeg(jpge::output_stream& stream, int width, int height, int channels,
                const uint8_t* pixels, const JpegParams& params);

}  // namespace Korvo
