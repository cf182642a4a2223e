#include "stitch/png_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "stitch/png_reader.h"
#include "test_support.h"

namespace Korvo {
namespace {

PixelImage ImageOf(uint32_t width, uint32_t height, uint32_t bits,
                   const std::vector<uint8_t>& pixels) {
    PixelImage image = MakeBlackImage(width, height, bits);
    std::copy(pixels.begin(), pixels.end(), image.pixels.begin());
    return image;
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

std::vector<Chunk> ChunksOf(const std::vector<uint8_t>& png) {
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const size_t length =
            size_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        chunks.push_back({std::string(png.begin() + at + 4, png.begin() + at + 8),
                          {png.begin() + at + 8, png.begin() + at + 8 + length}});
        at += 12 + length;
    }
    return chunks;
}

TEST(PngWriter, ReadsBackThroughLibpngIdentically) {
    for (uint32_t bits : {24u, 32u}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        constexpr uint32_t kWidth = 300, kHeight = 200;
        const auto pixels = test::MakePicture(kWidth, kHeight, int(bits / 8), bits);
        const auto png = EncodePng(ImageOf(kWidth, kHeight, bits, pixels));
        const auto reference = test::ReadPngWithLibpng(png);
        ASSERT_TRUE(reference.ok);
        EXPECT_EQ(reference.width, kWidth);
        EXPECT_EQ(reference.height, kHeight);
        EXPECT_EQ(reference.bitDepth, 8);
        EXPECT_EQ(reference.colorType, bits == 24 ? 2 : 6);
        EXPECT_TRUE(reference.rows == pixels);

        const auto chunks = ChunksOf(png);
        ASSERT_GE(chunks.size(), 5u);
        EXPECT_EQ(chunks[0].type, "IHDR");
        EXPECT_EQ(chunks[1].type, "sRGB");
        EXPECT_EQ(chunks[1].data, std::vector<uint8_t>{0});
        EXPECT_EQ(chunks[2].type, "gAMA");
        EXPECT_EQ(chunks[2].data, (std::vector<uint8_t>{0, 0, 0xB1, 0x8F}));
        EXPECT_EQ(chunks.back().type, "IEND");
        for (size_t i = 3; i + 1 < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].type, "IDAT");
            EXPECT_LE(chunks[i].data.size(), 8192u);
        }
        EXPECT_GT(chunks.size(), 5u) << "expected the image data in several chunks";
    }
}

TEST(PngWriter, TinyImageReadsBackThroughOurReader) {
    const std::vector<uint8_t> pixels = {255, 0, 0, 0, 0, 255};
    const PngImage image = DecodePng(EncodePng(ImageOf(2, 1, 24, pixels)));
    EXPECT_EQ(image.error, PngError::None);
    EXPECT_EQ(image.colorType, 2);
    EXPECT_EQ(image.bitDepth, 8);
    EXPECT_EQ(image.scanlines, (std::vector<uint8_t>{0, 255, 0, 0, 0, 0, 255}));
}

TEST(PngWriter, RefusesImagesItCannotWrite) {
    PixelImage sixteen = MakeBlackImage(4, 4, 16);
    EXPECT_TRUE(EncodePng(sixteen).empty());
    EXPECT_TRUE(EncodePng(PixelImage{}).empty());
    PixelImage shortBuffer = MakeBlackImage(4, 4, 24);
    shortBuffer.height = 5;
    EXPECT_TRUE(EncodePng(shortBuffer).empty());
}

}  // namespace
}  // namespace Korvo
