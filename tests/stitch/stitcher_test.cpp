#include "stitch/stitcher.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "stitch/jpeg_encoder.h"
#include "stitch/png_reader.h"
#include "test_support.h"

namespace Korvo {
namespace {

using Rgb = std::array<int, 3>;

// Face files get colours of their own; every face has a white band along its left edge and a
// black one along its top, so that mirroring and flipping show.
Rgb ColourOf(const std::string& file) {
    int k = 0;
    while (k < kFaceCount && file != kStripFaceFiles[k]) ++k;
    return {30 + 17 * k, 220 - 13 * k, 60 + (k * 41) % 150};
}
constexpr Rgb kWhite = {250, 250, 250}, kBlackBand = {5, 5, 5}, kNothing = {0, 0, 0};
constexpr int kBandWidth = 384, kBandHeight = 128;
constexpr size_t kCellRowBytesForTest = size_t(kFaceSize) * 3;

std::vector<uint8_t> LabelledFace(const std::string& file, int width, int height, int channels) {
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    const Rgb colour = ColourOf(file);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb& c = y < kBandHeight ? kBlackBand : x < kBandWidth ? kWhite : colour;
            uint8_t* p = pixels.data() + (size_t(y) * width + x) * channels;
            for (int i = 0; i < 3; ++i) p[i] = uint8_t(c[i]);
            if (channels == 4)
                p[3] = uint8_t(x % 3 == 0 ? 0 : 128);  // transparency must not matter
        }
    }
    return pixels;
}

void WriteFace(const test::TempDir& dir, const std::string& file, int width = kFaceSize,
               int height = kFaceSize, int channels = 3) {
    const auto pixels = LabelledFace(file, width, height, channels);
    test::WriteFileBytes(dir / file, test::WritePngWithLibpng(
                                         {width, height, channels == 4 ? 6 : 2, 8, 0, 1}, pixels));
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // Mean colour of the 16 × 16 patch centred on (x, y).
    Rgb At(int x, int y) const {
        Rgb sum = {0, 0, 0};
        for (int dy = -8; dy < 8; ++dy) {
            for (int dx = -8; dx < 8; ++dx) {
                const uint8_t* p = rgb.data() + (size_t(y + dy) * width + (x + dx)) * 3;
                for (int i = 0; i < 3; ++i) sum[i] += p[i];
            }
        }
        for (int& s : sum) s /= 256;
        return sum;
    }
};

Picture ReadJpeg(const std::string& path) {
    const auto decoded = test::DecodeJpegStrict(test::ReadFileBytes(path));
    EXPECT_TRUE(decoded.ok) << decoded.error;
    return {decoded.width, decoded.height, decoded.pixels};
}

Picture ReadPng(const std::string& path) {
    const auto decoded = test::ReadPngWithLibpng(test::ReadFileBytes(path));
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(decoded.bitDepth, 8);
    return {int(decoded.width), int(decoded.height), decoded.rows};
}

void ExpectColour(const Picture& picture, int x, int y, const Rgb& expected, int tolerance,
                  const std::string& where) {
    const Rgb actual = picture.At(x, y);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual[i], expected[i], tolerance)
            << where << ": pixel (" << x << ", " << y << ") channel " << i;
    }
}

// A full-size face in the cell at (x0, y0): band on the left, or on the right when mirrored.
void ExpectFace(const Picture& picture, int x0, int y0, const std::string& file, bool mirrored,
                int tolerance) {
    const int band = mirrored ? x0 + kFaceSize - kBandWidth / 2 : x0 + kBandWidth / 2;
    const int body = x0 + kFaceSize / 2 + (mirrored ? -200 : 200);
    ExpectColour(picture, band, y0 + kFaceSize / 2, kWhite, tolerance, file + " band");
    ExpectColour(picture, body, y0 + kFaceSize / 2, ColourOf(file), tolerance, file);
    ExpectColour(picture, body, y0 + kBandHeight / 2, kBlackBand, tolerance, file + " top");
}

TEST(StitcherSlow, StripHoldsEveryFaceMirroredInItsCell) {
    test::TempDir dir;
    for (const char* file : kStripFaceFiles) WriteFace(dir, file);
    const std::string out = dir / "room_Cam01.jpg";
    ASSERT_EQ(StitchFaceStrip(out.c_str(), kFaceCount, 100), kStitchWritten);
    const Picture strip = ReadJpeg(out);
    ASSERT_EQ(strip.width, 18432);
    ASSERT_EQ(strip.height, 1536);
    for (int cell = 0; cell < kFaceCount; ++cell) {
        ExpectFace(strip, cell * int(kFaceSize), 0, kStripFaceFiles[cell], true, 4);
    }
}

TEST(StitcherSlow, GridHoldsRightEyeAboveLeftEyeUnmirrored) {
    test::TempDir dir;
    for (const char* file : kGridFaceFiles) WriteFace(dir, file);
    const std::string out = dir / "room_Cam01.jpg";
    ASSERT_EQ(StitchFaceGrid(out.c_str(), 100), kStitchWritten);
    const Picture grid = ReadJpeg(out);
    ASSERT_EQ(grid.width, 9216);
    ASSERT_EQ(grid.height, 3072);
    for (int face = 0; face < kFaceCount; ++face) {
        EXPECT_NE(std::string(kGridFaceFiles[face]).find(face < 6 ? "_right" : "_left"),
                  std::string::npos);
        ExpectFace(grid, face % 6 * int(kFaceSize), face / 6 * int(kFaceSize), kGridFaceFiles[face],
                   false, 4);
    }
}

TEST(Stitcher, AlphaIsDroppedAndTransparentPixelsKeepTheirColour) {
    test::TempDir dir;
    WriteFace(dir, kStripFaceFiles[0], kFaceSize, kFaceSize, 4);
    const std::string out = dir / "strip.png";
    ASSERT_EQ(StitchFaceStrip(out.c_str(), 1, 100), kStitchWritten);
    const Picture strip = ReadPng(out);
    ASSERT_EQ(strip.width, 1536);
    const auto face = LabelledFace(kStripFaceFiles[0], kFaceSize, kFaceSize, 4);
    for (int y : {0, 700, 1535}) {
        for (int x : {0, 1, 2, 3, 1000, 1535}) {
            const uint8_t* expected = face.data() + (size_t(y) * kFaceSize + x) * 4;
            const uint8_t* actual = strip.rgb.data() + (size_t(y) * kFaceSize + (1535 - x)) * 3;
            EXPECT_EQ(std::vector<uint8_t>(actual, actual + 3),
                      std::vector<uint8_t>(expected, expected + 3))
                << "face pixel (" << x << ", " << y << ")";
        }
    }
}

TEST(Stitcher, NarrowFaceEndsAgainstTheRightOfItsStripCellAndTheLeftOfItsGridCell) {
    test::TempDir dir;
    WriteFace(dir, "right_image_left.png", 1000, kFaceSize);
    WriteFace(dir, "right_image_right.png", 1000, kFaceSize);
    const std::string stripPath = dir / "strip.png";
    ASSERT_EQ(StitchFaceStrip(stripPath.c_str(), 2, 100), kStitchWritten);
    const Picture strip = ReadPng(stripPath);
    const Rgb colour = ColourOf("right_image_left.png");
    ExpectColour(strip, 300, 700, kNothing, 0, "left of the narrow face");
    ExpectColour(strip, 544, 700, colour, 0, "the narrow face's far side");
    ExpectColour(strip, 1527, 700, kWhite, 0, "the narrow face's band, mirrored");
    ExpectColour(strip, 1536 + 768, 700, kNothing, 0, "the missing second face");

    // Missing faces and narrow ones are no damage.
    const std::string gridPath = dir / "grid.jpg";
    bool damaged = true;
    ASSERT_EQ(StitchFaceGrid(gridPath.c_str(), 100, &damaged), kStitchWritten);
    EXPECT_FALSE(damaged);
    const Picture grid = ReadJpeg(gridPath);
    ExpectColour(grid, 100, 700, kWhite, 4, "grid band at the left");
    ExpectColour(grid, 990, 700, ColourOf("right_image_right.png"), 4, "grid face");
    ExpectColour(grid, 1300, 700, kNothing, 4, "right of the narrow grid face");
    ExpectColour(grid, 100, 1536 + 700, kWhite, 4, "bottom row narrow face");
}

TEST(Stitcher, TallFaceIsCutAtItsCell) {
    test::TempDir dir;
    WriteFace(dir, "right_image_left.png", kFaceSize, 1800);
    WriteFace(dir, "right_image_right.png", kFaceSize, 1800);
    const std::string stripPath = dir / "strip.png";
    ASSERT_EQ(StitchFaceStrip(stripPath.c_str(), 1, 100), kStitchWritten);
    const Picture strip = ReadPng(stripPath);
    EXPECT_EQ(strip.height, 1536);
    ExpectColour(strip, 768, 1520, ColourOf("right_image_left.png"), 0, "last strip row");

    // The grid's top-left face stops at its cell: the missing face below stays black.
    std::filesystem::remove(dir / "right_image_left.png");
    const std::string gridPath = dir / "grid.jpg";
    ASSERT_EQ(StitchFaceGrid(gridPath.c_str(), 100), kStitchWritten);
    const Picture grid = ReadJpeg(gridPath);
    ExpectColour(grid, 768, 1520, ColourOf("right_image_right.png"), 4, "top cell's last row");
    ExpectColour(grid, 768, 1536 + 100, kNothing, 4, "the cell below");
}

TEST(Stitcher, MissingAndDamagedFacesLeaveBlackCells) {
    test::TempDir dir;
    // Cell 0: the image data ends inside the stream. Cell 1: a valid stream of fewer rows than
    // the header claims. Cell 2: not a PNG. Cell 3: palette.
    const auto face = LabelledFace(kStripFaceFiles[0], kFaceSize, kFaceSize, 3);
    auto cut = test::WritePngWithLibpng({1536, 1536, 2, 8, 0, 1}, face);
    cut.resize(cut.size() / 2);
    test::WriteFileBytes(dir / kStripFaceFiles[0], cut);
    std::vector<uint8_t> rows;
    for (int y = 0; y < 200; ++y) {
        rows.push_back(0);
        rows.insert(rows.end(), face.begin() + y * 1536 * 3, face.begin() + (y + 1) * 1536 * 3);
    }
    test::WriteFileBytes(
        dir / kStripFaceFiles[1],
        test::PngBuilder().Signature().Header(1536, 1536, 8, 2).ImageData(rows).End().bytes());
    test::WriteFileBytes(dir / kStripFaceFiles[2], std::vector<uint8_t>(5000, 7));
    test::WriteFileBytes(
        dir / kStripFaceFiles[3],
        test::PngBuilder().Signature().Header(1536, 1536, 8, 3).ImageData(rows).End().bytes());

    // Written all the same; the cut stream's damage is told to a caller that asks.
    const std::string out = dir / "strip.png";
    ASSERT_EQ(StitchFaceStrip(out.c_str(), 5, 100), kStitchWritten);
    bool damaged = false;
    ASSERT_EQ(StitchFaceStrip(out.c_str(), 5, 100, &damaged), kStitchWritten);
    EXPECT_TRUE(damaged);
    const Picture strip = ReadPng(out);
    ASSERT_EQ(strip.width, 5 * 1536);
    ExpectColour(strip, 768, 768, kNothing, 0, "cut stream");
    ExpectColour(strip, 1536 + 768, 50, kBlackBand, 0, "short stream, rows present");
    ExpectColour(strip, 1536 + 768, 180, ColourOf(kStripFaceFiles[0]), 0,
                 "short stream, last rows");
    ExpectColour(strip, 1536 + 768, 300, kNothing, 0, "short stream, rows missing");
    ExpectColour(strip, 2 * 1536 + 768, 768, kNothing, 0, "not a PNG");
    ExpectColour(strip, 3 * 1536 + 768, 768, kNothing, 0, "palette");
    ExpectColour(strip, 4 * 1536 + 768, 768, kNothing, 0, "missing");
}

// The stitcher streams faces through the encoder band by band on several threads; its file must
// be exactly what encoding the assembled image in one call gives.
TEST(StitcherSlow, StreamedJpegEqualsTheAssembledImageEncoded) {
    test::TempDir dir;
    const int kCells = 3;
    std::vector<uint8_t> strip(size_t(kCells) * kFaceSize * kFaceSize * 3);
    std::vector<uint8_t> grid(size_t(6) * kFaceSize * 2 * kFaceSize * 3);
    for (int cell = 0; cell < kCells; ++cell) {
        const auto face = test::MakePicture(kFaceSize, kFaceSize, 3, uint64_t(cell) + 20);
        test::WriteFileBytes(dir / kStripFaceFiles[cell],
                             test::WritePngWithLibpng({1536, 1536, 2, 8, 0, 1}, face));
        for (uint32_t y = 0; y < kFaceSize; ++y) {
            for (uint32_t x = 0; x < kFaceSize; ++x) {
                const uint8_t* p = face.data() + (size_t(y) * kFaceSize + x) * 3;
                std::copy_n(p, 3,
                            strip.data() + (size_t(y) * kCells * kFaceSize + cell * kFaceSize +
                                            kFaceSize - 1 - x) *
                                               3);
            }
        }
        // In the grid the same files sit at their grid places, unmirrored.
        const int at = int(
            std::find_if(std::begin(kGridFaceFiles), std::end(kGridFaceFiles),
                         [&](const char* f) { return std::string(f) == kStripFaceFiles[cell]; }) -
            std::begin(kGridFaceFiles));
        for (uint32_t y = 0; y < kFaceSize; ++y) {
            std::copy_n(
                face.data() + size_t(y) * kFaceSize * 3, kFaceSize * 3,
                grid.data() +
                    ((size_t(at / 6) * kFaceSize + y) * 6 * kFaceSize + at % 6 * kFaceSize) * 3);
        }
    }
    const JpegParams params{95, JpegSubsampling::H2V2, false, false};
    jpge::vector_stream expected;
    ASSERT_TRUE(EncodeJpeg(expected, kCells * 1536, 1536, 3, strip.data(), params));
    ASSERT_EQ(StitchFaceStrip((dir / "strip.jpg").c_str(), kCells, 95), kStitchWritten);
    EXPECT_TRUE(test::ReadFileBytes(dir / "strip.jpg") == expected.bytes());

    jpge::vector_stream expectedGrid;
    ASSERT_TRUE(EncodeJpeg(expectedGrid, 9216, 3072, 3, grid.data(), params));
    ASSERT_EQ(StitchFaceGrid((dir / "grid.jpg").c_str(), 95), kStitchWritten);
    EXPECT_TRUE(test::ReadFileBytes(dir / "grid.jpg") == expectedGrid.bytes());
}

// Damage found at the end of a face's data comes after its rows went into the file: the stitch
// starts again with that face black.
TEST(Stitcher, FaceDamagedAtTheEndOfItsDataLeavesABlackCellInAJpeg) {
    test::TempDir dir;
    for (int cell = 0; cell < 3; ++cell) WriteFace(dir, kStripFaceFiles[cell]);
    const auto face = LabelledFace(kStripFaceFiles[0], kFaceSize, kFaceSize, 3);
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < kFaceSize; ++y) {
        rows.push_back(0);
        rows.insert(rows.end(), face.begin() + y * kCellRowBytesForTest,
                    face.begin() + (y + 1) * kCellRowBytesForTest);
    }
    auto stream = test::Deflate(rows);
    stream.back() ^= 0x40;  // Adler-32 no longer matches
    test::WriteFileBytes(dir / kStripFaceFiles[0], test::PngBuilder()
                                                       .Signature()
                                                       .Header(1536, 1536, 8, 2)
                                                       .Chunk("IDAT", stream)
                                                       .End()
                                                       .bytes());
    // Cell 2: the last image data chunk fails its CRC.
    const auto good = test::Deflate(rows);
    const size_t half = good.size() / 2;
    test::WriteFileBytes(dir / kStripFaceFiles[2],
                         test::PngBuilder()
                             .Signature()
                             .Header(1536, 1536, 8, 2)
                             .Chunk("IDAT", std::span(good).first(half))
                             .BadCrcChunk("IDAT", std::span(good).subspan(half))
                             .End()
                             .bytes());
    const std::string out = dir / "strip.jpg";
    bool damaged = false;
    ASSERT_EQ(StitchFaceStrip(out.c_str(), 3, 100, &damaged), kStitchWritten);
    EXPECT_TRUE(damaged);
    const Picture strip = ReadJpeg(out);
    ExpectColour(strip, 768, 768, kNothing, 2, "bad checksum");
    ExpectFace(strip, 1536, 0, kStripFaceFiles[1], true, 4);
    ExpectColour(strip, 2 * 1536 + 768, 768, kNothing, 2, "bad chunk");
    ExpectColour(strip, 2 * 1536 + 768, 60, kNothing, 2, "bad chunk, first rows");
}

TEST(Stitcher, SixteenBitFacesGiveTheirHighBytes) {
    test::TempDir dir;
    std::vector<uint8_t> samples;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            for (int c = 0; c < 3; ++c)
                samples.insert(samples.end(), {uint8_t(x * 4 + c), uint8_t(y)});
        }
    }
    test::WriteFileBytes(dir / kStripFaceFiles[0],
                         test::WritePngWithLibpng({64, 64, 2, 16, 0, 6}, samples));
    const std::string out = dir / "strip.png";
    ASSERT_EQ(StitchFaceStrip(out.c_str(), 1, 100), kStitchWritten);
    const Picture strip = ReadPng(out);
    for (int x : {0, 17, 63}) {
        const uint8_t* p = strip.rgb.data() + (size_t(10) * 1536 + 1535 - x) * 3;
        EXPECT_EQ(p[0], x * 4) << "x " << x;
        EXPECT_EQ(p[2], x * 4 + 2) << "x " << x;
    }
}

TEST(Stitcher, AllFacesMissingGiveABlackImage) {
    test::TempDir dir;
    const std::string out = dir / "room_Cam01.jpg";
    ASSERT_EQ(StitchFaceStrip(out.c_str(), kFaceCount, 100), kStitchWritten);
    const Picture strip = ReadJpeg(out);
    ASSERT_EQ(strip.width, 18432);
    EXPECT_EQ(*std::max_element(strip.rgb.begin(), strip.rgb.end()), 0);
}

TEST(Stitcher, FaceCountOutsideOneToTwelveWritesNothing) {
    test::TempDir dir;
    const std::string out = dir / "strip.jpg";
    EXPECT_EQ(StitchFaceStrip(out.c_str(), 0, 100), kStitchWritten);
    EXPECT_EQ(StitchFaceStrip(out.c_str(), -3, 100), kStitchWritten);
    EXPECT_EQ(StitchFaceStrip(out.c_str(), 13, 100), kStitchBadFaceCount);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(Stitcher, ExtensionChoosesTheFormat) {
    test::TempDir dir;
    WriteFace(dir, kStripFaceFiles[0]);
    for (const char* name : {"a.JPG", "b.Jpg", "c.jpg", "d.png", "e.jpeg", "f"}) {
        const std::string out = dir / name;
        ASSERT_EQ(StitchFaceStrip(out.c_str(), 1, 90), kStitchWritten) << name;
        const auto bytes = test::ReadFileBytes(out);
        ASSERT_GT(bytes.size(), 8u) << name;
        const std::string suffix = std::string(name).substr(1);
        const bool jpeg = suffix == ".JPG" || suffix == ".Jpg" || suffix == ".jpg";
        EXPECT_EQ(bytes[0], jpeg ? 0xFF : 0x89) << name;
    }
}

TEST(Stitcher, PathWithoutFolderUsesTheCurrentDirectory) {
    test::TempDir dir;
    WriteFace(dir, kStripFaceFiles[0]);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const uint32_t result = StitchFaceStrip("here.jpg", 1, 100);
    std::filesystem::current_path(previous);
    ASSERT_EQ(result, kStitchWritten);
    const Picture strip = ReadJpeg(dir / "here.jpg");
    ExpectFace(strip, 0, 0, kStripFaceFiles[0], true, 4);
}

TEST(Stitcher, UnwritableOutputIsReported) {
    test::TempDir dir;
    WriteFace(dir, kStripFaceFiles[0]);
    std::filesystem::create_directory(dir / "taken.jpg");
    std::filesystem::create_directory(dir / "taken.png");
    EXPECT_EQ(StitchFaceStrip((dir / "taken.jpg").c_str(), 1, 100), kStitchNotWritten);
    EXPECT_EQ(StitchFaceStrip((dir / "taken.png").c_str(), 1, 100), kStitchNotWritten);
    EXPECT_EQ(StitchFaceStrip((dir / "no/such/folder.jpg").c_str(), 1, 100), kStitchNotWritten);
    EXPECT_EQ(StitchFaceStrip((dir / "quality0.jpg").c_str(), 1, 0), kStitchNotWritten);
    EXPECT_EQ(StitchFaceStrip(nullptr, 1, 100), kStitchNotWritten);
}

}  // namespace
}  // namespace Korvo
