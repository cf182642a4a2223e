#include "stitch/jpeg_transform.h"

#include <algorithm>
#include <cstring>

#include "stitch/page_memory.h"

namespace Korvo::jpeg {

Planes::Planes(const Layout& layout, JpegSubsampling subsampling) {
    stride = layout.PaddedWidth();
    const size_t size = size_t(stride) * layout.mcuHeight;
    ResizeMapped(y, size);
    const bool colour = layout.components == 3;
    const bool downsampled = colour && subsampling != JpegSubsampling::H1V1;
    if (colour) {
        // Grey input keeps its chroma at the neutral value throughout.
        ResizeMapped(cb, size, uint8_t{128});
        ResizeMapped(cr, size, uint8_t{128});
    }
    if (downsampled) {
        downStride = stride / 2;
        ResizeMapped(cbDown, size_t(downStride) * 8, uint8_t{128});
        ResizeMapped(crDown, size_t(downStride) * 8, uint8_t{128});
    }
    blocks.reserve(size_t(layout.mcusAcross) * layout.blocksPerMcu);
    const auto add = [&](const uint8_t* samples, int rowStride, uint32_t table) {
        blocks.push_back({samples, uint32_t(rowStride), table});
    };
    for (int mcu = 0; mcu < layout.mcusAcross; ++mcu) {
        const size_t x = size_t(mcu) * layout.mcuWidth;
        // Luminance blocks left to right, then top to bottom.
        for (int by = 0; by < layout.mcuHeight; by += 8) {
            for (int bx = 0; bx < layout.mcuWidth; bx += 8) {
                add(y.data() + size_t(by) * stride + x + bx, stride, 0);
            }
        }
        if (downsampled) {
            add(cbDown.data() + size_t(mcu) * 8, downStride, 1);
            add(crDown.data() + size_t(mcu) * 8, downStride, 1);
        } else if (colour) {
            add(cb.data() + x, stride, 1);
            add(cr.data() + x, stride, 1);
        }
    }
}

namespace {

void PadRow(uint8_t* row, int width, int stride) {
    std::memset(row + width, row[width - 1], size_t(stride - width));
}

}  // namespace

void TransformBand(const TransformSetup& in, int band, const uint8_t* rows, size_t rowStride,
                   Planes& planes, int16_t* out) {
    const Layout& layout = in.layout;
    const Kernels& kernels = *in.kernels;
    const bool colour = layout.components == 3;
    const int firstRow = band * layout.mcuHeight;
    for (int r = 0; r < layout.mcuHeight; ++r) {
        // Rows below the image repeat its last row.
        const int sourceRow = std::min(firstRow + r, in.height - 1);
        const uint8_t* src = rows + size_t(sourceRow - firstRow) * rowStride;
        const size_t at = size_t(r) * planes.stride;
        uint8_t* y = planes.y.data() + at;
        if (in.channels == 1) {
            std::memcpy(y, src, size_t(in.width));
        } else if (colour) {
            uint8_t* cb = planes.cb.data() + at;
            uint8_t* cr = planes.cr.data() + at;
            kernels.convertYCbCr(src, in.channels, in.width, y, cb, cr);
            PadRow(cb, in.width, planes.stride);
            PadRow(cr, in.width, planes.stride);
        } else {
            kernels.convertLuma(src, in.channels, in.width, y);
        }
        PadRow(y, in.width, planes.stride);
    }
    if (!planes.cbDown.empty() && in.channels != 1) {
        const int outWidth = planes.downStride;
        const std::vector<uint8_t>* full[2] = {&planes.cb, &planes.cr};
        std::vector<uint8_t>* down[2] = {&planes.cbDown, &planes.crDown};
        for (int c = 0; c < 2; ++c) {
            for (int r = 0; r < 8; ++r) {
                uint8_t* outRow = down[c]->data() + size_t(r) * outWidth;
                if (in.subsampling == JpegSubsampling::H2V2) {
                    const uint8_t* top = full[c]->data() + size_t(2 * r) * planes.stride;
                    kernels.downsampleH2V2(top, top + planes.stride, outWidth, r, outRow);
                } else {
                    kernels.downsampleH2V1(full[c]->data() + size_t(r) * planes.stride, outWidth,
                                           outRow);
                }
            }
        }
    }
    const Quantizer* const tables[2] = {&in.quant[0], &in.quant[1]};
    kernels.transformBlocks(planes.blocks.data(), planes.blocks.size(), tables, out);
}

}  // namespace Korvo::jpeg
