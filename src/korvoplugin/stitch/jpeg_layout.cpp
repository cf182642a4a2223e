#include "stitch/jpeg_layout.h"

namespace Korvo::jpeg {

Layout MakeLayout(int width, int height, JpegSubsampling subsampling) {
    Layout layout;
    switch (subsampling) {
        case JpegSubsampling::YOnly:
            layout.components = 1;
            layout.blockComponent = {0};
            break;
        case JpegSubsampling::H1V1:
            layout.blocksPerMcu = 3;
            layout.blockComponent = {0, 1, 2};
            break;
        case JpegSubsampling::H2V1:
            layout.mcuWidth = 16;
            layout.blocksPerMcu = 4;
            layout.blockComponent = {0, 0, 1, 2};
            layout.lumaSampling = 0x21;
            break;
        case JpegSubsampling::H2V2:
            layout.mcuWidth = 16;
            layout.mcuHeight = 16;
            layout.blocksPerMcu = 6;
            layout.blockComponent = {0, 0, 0, 0, 1, 2};
            layout.lumaSampling = 0x22;
            break;
    }
    layout.mcusAcross = (width + layout.mcuWidth - 1) / layout.mcuWidth;
    layout.mcuRows = (height + layout.mcuHeight - 1) / layout.mcuHeight;
    return layout;
}

}  // namespace Korvo::jpeg
