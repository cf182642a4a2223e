#include "stitch/jpeg_kernels.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace Korvo::jpeg {
namespace {

using test::Random;

std::vector<uint8_t> RandomBytes(size_t size, uint64_t variant) {
    Random random(variant);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = uint8_t(random.Next());
    return bytes;
}

class FastKernelsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (&FastKernels() == &PortableKernels()) GTEST_SKIP() << "no vector kernels here";
    }
    const Kernels& fast = FastKernels();
    const Kernels& portable = PortableKernels();
};

// Every width exercises a different split between vector steps and the scalar rest.
TEST_F(FastKernelsTest, ColourConversionMatchesThePortableKernels) {
    for (int channels : {3, 4}) {
        for (int width = 1; width <= 80; ++width) {
            auto src = RandomBytes(size_t(width) * channels, uint64_t(width * channels));
            // Corners of the colour cube clamp in Cb and Cr.
            if (width >= 2) {
                std::fill_n(src.begin(), channels, uint8_t(0));
                std::fill_n(src.begin() + channels, 3, uint8_t(255));
                src[channels] = 0;
            }
            std::vector<uint8_t> a(width * 3), b(width * 3);
            fast.convertYCbCr(src.data(), channels, width, a.data(), a.data() + width,
                              a.data() + 2 * width);
            portable.convertYCbCr(src.data(), channels, width, b.data(), b.data() + width,
                                  b.data() + 2 * width);
            EXPECT_EQ(a, b) << "width " << width << " channels " << channels;
            fast.convertLuma(src.data(), channels, width, a.data());
            portable.convertLuma(src.data(), channels, width, b.data());
            EXPECT_EQ(a, b) << "width " << width << " channels " << channels;
        }
    }
}

TEST_F(FastKernelsTest, DownsamplingMatchesThePortableKernels) {
    for (int outWidth = 1; outWidth <= 70; ++outWidth) {
        const auto top = RandomBytes(size_t(outWidth) * 2, uint64_t(outWidth));
        const auto bottom = RandomBytes(size_t(outWidth) * 2, uint64_t(outWidth) + 1000);
        for (int row = 0; row < 2; ++row) {
            std::vector<uint8_t> a(outWidth), b(outWidth);
            fast.downsampleH2V2(top.data(), bottom.data(), outWidth, row, a.data());
            portable.downsampleH2V2(top.data(), bottom.data(), outWidth, row, b.data());
            EXPECT_EQ(a, b) << "H2V2 width " << outWidth << " row " << row;
        }
        std::vector<uint8_t> a(outWidth), b(outWidth);
        fast.downsampleH2V1(top.data(), outWidth, a.data());
        portable.downsampleH2V1(top.data(), outWidth, b.data());
        EXPECT_EQ(a, b) << "H2V1 width " << outWidth;
    }
}

TEST_F(FastKernelsTest, TransformMatchesThePortableKernels) {
    // Random blocks, flat extremes and full-swing patterns, which reach the largest coefficients.
    constexpr int kBlocks = 64;
    auto samples = RandomBytes(size_t(kBlocks) * 64, 7);
    for (int i = 0; i < 64; ++i) {
        const int x = i % 8, y = i / 8;
        samples[0 * 64 + i] = 0;
        samples[1 * 64 + i] = 255;
        samples[2 * 64 + i] = (x + y) % 2 ? 255 : 0;
        samples[3 * 64 + i] = x < 4 ? 255 : 0;
        samples[4 * 64 + i] = y % 2 ? 0 : 255;
    }
    std::vector<BlockSource> blocks;
    for (int b = 0; b < kBlocks; ++b)
        blocks.push_back({samples.data() + 64 * b, 8, uint32_t(b % 2)});
    for (int q : {1, 2, 3, 7, 50, 99, 255}) {
        Quantizer tables[2];
        for (int i = 0; i < 64; ++i) {
            const int entries[2] = {q, 1 + (q + i) % 255};
            for (int t = 0; t < 2; ++t) {
                tables[t].offset[i] = 4.0f * entries[t] + 0.5f;
                tables[t].scale[i] = 1.0f / (8.0f * entries[t]);
            }
        }
        const Quantizer* const pointers[2] = {&tables[0], &tables[1]};
        std::vector<int16_t> a(64 * kBlocks), b(64 * kBlocks);
        fast.transformBlocks(blocks.data(), blocks.size(), pointers, a.data());
        portable.transformBlocks(blocks.data(), blocks.size(), pointers, b.data());
        EXPECT_EQ(a, b) << "quantiser " << q;
    }
}

// The quantisers multiply by a rounded reciprocal instead of dividing; that must give the
// quotient exactly for every coefficient the DCT can produce.
TEST(JpegQuantizer, ReciprocalGivesTheExactQuotient) {
    for (int q = 1; q <= 255; ++q) {
        const float offset = 4.0f * q + 0.5f, scale = 1.0f / (8.0f * q);
        for (int c = 0; c < (1 << 14); ++c) {
            const auto quotient = static_cast<int>((static_cast<float>(c) + offset) * scale);
            if (quotient != (c + 4 * q) / (8 * q)) {
                FAIL() << "coefficient " << c << " table entry " << q;
            }
        }
    }
}

}  // namespace
}  // namespace Korvo::jpeg
