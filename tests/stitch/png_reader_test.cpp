#include "stitch/png_reader.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace Korvo {
namespace {

using test::PngBuilder;

const std::filesystem::path kSuite = std::filesystem::path(KORVO_TEST_DATA) / "pngsuite" / "png";

// The scanlines as libpng would deliver them: the filter bytes (all 0) taken out.
std::vector<uint8_t> RowsOf(const PngImage& image) {
    std::vector<uint8_t> rows;
    const size_t stride = PngRowStride(image);
    for (size_t at = 0; at + stride <= image.scanlines.size(); at += stride) {
        EXPECT_EQ(image.scanlines[at], 0) << "row " << at / stride << " kept its filter byte";
        rows.insert(rows.end(), image.scanlines.begin() + at + 1,
                    image.scanlines.begin() + at + stride);
    }
    return rows;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

TEST(PngReader, PngSuiteDecodesAsLibpngDoes) {
    int compared = 0, refused = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == 'x') continue;  // the corrupt files
        SCOPED_TRACE(name);
        const auto bytes = test::ReadFileBytes(entry.path());
        const auto reference = test::ReadPngWithLibpng(bytes);
        ASSERT_TRUE(reference.ok);
        const PngImage image = ReadPngFile(entry.path().c_str());
        EXPECT_EQ(image.width, reference.width);
        EXPECT_EQ(image.height, reference.height);
        EXPECT_EQ(image.bitDepth, reference.bitDepth);
        EXPECT_EQ(image.colorType, reference.colorType);
        if (reference.colorType == PNG_COLOR_TYPE_PALETTE ||
            reference.interlace != PNG_INTERLACE_NONE) {
            EXPECT_EQ(image.error, PngError::ImageData);
            EXPECT_TRUE(image.scanlines.empty());
            ++refused;
            continue;
        }
        EXPECT_EQ(image.error, PngError::None);
        EXPECT_EQ(image.scanlines.size(), PngRowStride(image) * image.height);
        EXPECT_EQ(RowsOf(image), reference.rows);
        ++compared;
    }
    EXPECT_GT(compared, 60);
    EXPECT_GT(refused, 60);
}

TEST(PngReader, CorruptPngSuiteFilesEndWithAnError) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite)) {
        if (entry.path().filename().string()[0] != 'x') continue;
        const PngImage image = ReadPngFile(entry.path().c_str());
        EXPECT_NE(image.error, PngError::None) << entry.path().filename();
        ++files;
    }
    EXPECT_EQ(files, 14);
}

TEST(PngReader, EveryLibpngFilterReadsBackIdentically) {
    struct Format {
        int colorType, bitDepth, channels;
    };
    const Format formats[] = {{PNG_COLOR_TYPE_RGB, 8, 3},        {PNG_COLOR_TYPE_RGB_ALPHA, 8, 4},
                              {PNG_COLOR_TYPE_GRAY, 8, 1},       {PNG_COLOR_TYPE_GRAY, 16, 2},
                              {PNG_COLOR_TYPE_RGB, 16, 6},       {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2},
                              {PNG_COLOR_TYPE_RGB_ALPHA, 16, 8}, {PNG_COLOR_TYPE_GRAY, 1, 1}};
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    for (const Format& format : formats) {
        constexpr int kWidth = 61, kHeight = 37;
        const size_t rowBytes =
            (size_t(kWidth) * format.channels * (format.bitDepth == 1 ? 1 : 8) + 7) / 8;
        const auto pixels = test::MakePicture(int(rowBytes), kHeight, 1, uint64_t(format.channels));
        for (int filter : filters) {
            SCOPED_TRACE("colour type " + std::to_string(format.colorType) + " depth " +
                         std::to_string(format.bitDepth) + " filters " + std::to_string(filter));
            const auto png = test::WritePngWithLibpng(
                {kWidth, kHeight, format.colorType, format.bitDepth, filter, 6}, pixels);
            const PngImage image = DecodePng(png);
            EXPECT_EQ(image.error, PngError::None);
            EXPECT_EQ(RowsOf(image), pixels);
        }
    }
}

TEST(PngReader, ReadsAFaceSizedFile) {
    constexpr int kSize = 1536;
    const auto pixels = test::MakePicture(kSize, kSize, 3, 8);
    const auto png = test::WritePngWithLibpng({kSize, kSize, PNG_COLOR_TYPE_RGB, 8, 0, 6}, pixels);
    test::TempDir dir;
    test::WriteFileBytes(dir / "face.png", png);
    const PngImage image = ReadPngFile((dir / "face.png").c_str());
    EXPECT_EQ(image.error, PngError::None);
    EXPECT_EQ(image.scanlines.size(), size_t(kSize) * (kSize * 3 + 1));
    EXPECT_TRUE(RowsOf(image) == pixels);
}

TEST(PngReader, FilesThatCannotBeReadGiveTheInitialImage) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "empty.png", {});
    for (const std::string& path : {dir / "missing.png", dir / "empty.png", dir.path().string()}) {
        const PngImage image = ReadPngFile(path.c_str());
        EXPECT_EQ(image.error, PngError::None) << path;
        EXPECT_EQ(image.width, 0u) << path;
        EXPECT_EQ(image.gamma, 45455u) << path;
        EXPECT_TRUE(image.scanlines.empty()) << path;
    }
    EXPECT_TRUE(ReadPngFile(nullptr).scanlines.empty());
}

// Three 2 × 1 RGB rows of raw data: filter byte, then samples.
std::vector<uint8_t> SmallRows() {
    return Bytes({0, 1,  2,  3,  4,  5,  6,   //
                  0, 7,  8,  9,  10, 11, 12,  //
                  0, 13, 14, 15, 16, 17, 18});
}

PngBuilder SmallHeader() { return PngBuilder().Signature().Header(2, 3, 8, 2); }

TEST(PngReader, EachParseFaultHasItsCode) {
    const auto rows = SmallRows();
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        PngError walk;
    };
    const Case cases[] = {
        {"fewer than 8 bytes", Bytes({137, 80, 78}), PngError::Signature},
        {"wrong signature",
         PngBuilder().Raw(Bytes({137, 80, 78, 71, 13, 10, 26, 11})).Header(2, 3, 8, 2).bytes(),
         PngError::Signature},
        {"nothing after the signature", PngBuilder().Signature().bytes(), PngError::Header},
        {"header with a bad CRC",
         PngBuilder()
             .Signature()
             .BadCrcChunk("IHDR", Bytes({0, 0, 0, 2, 0, 0, 0, 3, 8, 2, 0, 0, 0}))
             .bytes(),
         PngError::Header},
        {"header cut short",
         [] {
             auto b = SmallHeader().bytes();
             b.resize(b.size() - 5);
             return b;
         }(),
         PngError::Header},
        {"first chunk not IHDR",
         PngBuilder().Signature().Chunk("gAMA", Bytes({0, 0, 177, 143})).bytes(), PngError::Header},
        {"header of 12 bytes",
         PngBuilder()
             .Signature()
             .Chunk("IHDR", Bytes({0, 0, 0, 2, 0, 0, 0, 3, 8, 2, 0, 0}))
             .bytes(),
         PngError::Header},
        {"truecolour at 4 bits",
         PngBuilder().Signature().Header(2, 3, 4, 2).ImageData(rows).End().bytes(),
         PngError::BitDepth},
        {"grey at 3 bits",
         PngBuilder().Signature().Header(2, 3, 3, 0).ImageData(rows).End().bytes(),
         PngError::BitDepth},
        {"later chunk with a bad CRC",
         SmallHeader().BadCrcChunk("tEXt", Bytes({65, 0, 66})).ImageData(rows).End().bytes(),
         PngError::Chunk},
        {"chunk length near 2^32",
         SmallHeader().Raw(Bytes({0xFF, 0xFF, 0xFF, 0xF0, 'I', 'D', 'A', 'T', 1, 2, 3, 4})).bytes(),
         PngError::Chunk},
        {"palette", PngBuilder().Signature().Header(2, 3, 8, 3).ImageData(rows).End().bytes(),
         PngError::ColorType},
        {"colour type 5", PngBuilder().Signature().Header(2, 3, 8, 5).ImageData(rows).End().bytes(),
         PngError::ColorType},
        {"compression method 1",
         PngBuilder().Signature().Header(2, 3, 8, 2, 1).ImageData(rows).End().bytes(),
         PngError::CompressionMethod},
        {"filter method 1",
         PngBuilder().Signature().Header(2, 3, 8, 2, 0, 1).ImageData(rows).End().bytes(),
         PngError::FilterMethod},
        {"interlaced",
         PngBuilder().Signature().Header(2, 3, 8, 2, 0, 0, 1).ImageData(rows).End().bytes(),
         PngError::Interlaced},
    };
    for (const Case& c : cases) {
        PngImage walked;
        EXPECT_EQ(WalkPngChunks(c.file, walked), c.walk) << c.what;
        // Faults found before the image data leave nothing to inflate.
        const PngImage image = DecodePng(c.file);
        EXPECT_EQ(image.error, PngError::ImageData) << c.what;
        EXPECT_TRUE(image.scanlines.empty()) << c.what;
        if (c.walk == PngError::BitDepth || c.walk >= PngError::ColorType) {
            EXPECT_EQ(image.width, 2u) << c.what;
            EXPECT_EQ(image.height, 3u) << c.what;
        }
    }
}

TEST(PngReader, DataBeforeADamagedChunkIsStillDelivered) {
    const auto rows = SmallRows();
    auto cut = SmallHeader().ImageData(rows).End().bytes();
    cut.resize(cut.size() - 3);  // IEND cut short
    const PngImage image = DecodePng(cut);
    EXPECT_EQ(image.error, PngError::Chunk);
    EXPECT_EQ(image.scanlines, rows);

    const PngImage noEnd = DecodePng(SmallHeader().ImageData(rows).bytes());
    EXPECT_EQ(noEnd.error, PngError::None);
    EXPECT_EQ(noEnd.scanlines, rows);

    const PngImage split = DecodePng(SmallHeader().ImageData(rows, 3).End().bytes());
    EXPECT_EQ(split.error, PngError::None);
    EXPECT_EQ(split.scanlines, rows);
}

TEST(PngReader, MissingOrDamagedImageDataGivesNoScanlines) {
    const auto rows = SmallRows();
    auto stream = test::Deflate(rows);
    auto damaged = stream;
    damaged[damaged.size() - 1] ^= 0x55;  // Adler-32
    auto cutShort = stream;
    cutShort.resize(stream.size() - 6);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> files = {
        {"no chunks after the header", SmallHeader().bytes()},
        {"no image data", SmallHeader().End().bytes()},
        {"bad checksum", SmallHeader().Chunk("IDAT", damaged).End().bytes()},
        {"stream cut short", SmallHeader().Chunk("IDAT", cutShort).End().bytes()},
        {"not a zlib stream", SmallHeader().Chunk("IDAT", Bytes({1, 2, 3, 4, 5})).End().bytes()},
        {"empty image", PngBuilder().Signature().Header(0, 0, 8, 2).ImageData({}).End().bytes()},
    };
    for (const auto& [what, file] : files) {
        const PngImage image = DecodePng(file);
        EXPECT_EQ(image.error, PngError::ImageData) << what;
        EXPECT_TRUE(image.scanlines.empty()) << what;
    }
}

TEST(PngReader, TheChecksumIsCheckedWhereverTheChunksCutTheTrailer) {
    const auto rows = SmallRows();
    const auto stream = test::Deflate(rows);
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
        for (size_t at = 1; at <= 4; ++at) {
            // One bit of the trailer, then the same stream intact.
            auto damaged = stream;
            damaged[damaged.size() - at] ^= 0x10;
            PngBuilder file = SmallHeader();
            for (size_t from = 0; from < damaged.size(); from += piece) {
                file.Chunk("IDAT", std::span(damaged).subspan(
                                       from, std::min(piece, damaged.size() - from)));
            }
            const PngImage image = DecodePng(file.End().bytes());
            EXPECT_EQ(image.error, PngError::ImageData) << piece << "-byte chunks, byte " << at;
            EXPECT_TRUE(image.scanlines.empty()) << piece << "-byte chunks, byte " << at;
        }
        const PngImage intact = DecodePng(SmallHeader().ImageData(rows, piece).End().bytes());
        EXPECT_EQ(intact.error, PngError::None) << piece << "-byte chunks";
        EXPECT_EQ(intact.scanlines, rows) << piece << "-byte chunks";
    }
}

TEST(PngReader, UnknownFilterTypeKeepsItsRowAndBlocksUpAndAverageBelow) {
    // Width 2, RGB: rows of 7 bytes.
    const auto rows = Bytes({1, 10, 20, 30, 1, 1, 1,    // Sub
                             7, 5,  5,  5,  5, 5, 5,    // unknown: kept as is
                             2, 1,  1,  1,  1, 1, 1,    // Up under an unfiltered row: kept
                             3, 2,  2,  2,  2, 2, 2,    // Average under a kept Up row: kept
                             1, 1,  2,  3,  1, 1, 1,    // Sub: unfiltered
                             4, 1,  1,  1,  1, 1, 1});  // Paeth above a good row
    const PngImage image =
        DecodePng(PngBuilder().Signature().Header(2, 6, 8, 2).ImageData(rows).End().bytes());
    EXPECT_EQ(image.error, PngError::FilterType);
    const auto expected = Bytes({0, 10, 20, 30, 11, 21, 31,  //
                                 7, 5, 5, 5, 5, 5, 5,        //
                                 2, 1, 1, 1, 1, 1, 1,        //
                                 3, 2, 2, 2, 2, 2, 2,        //
                                 0, 1, 2, 3, 2, 3, 4,        //
                                 // Paeth: first pixel takes b; the second predicts from
                                 // a = 2, b = 2, c = 1 → p = 3, nearest is a.
                                 0, 2, 3, 4, 3, 4, 5});
    EXPECT_EQ(image.scanlines, expected);
}

TEST(PngReader, FirstRowFiltersSeeZerosAbove) {
    for (uint8_t filter : {2, 3, 4}) {
        const auto rows = Bytes({filter, 10, 20, 30, 40, 50, 60});
        const PngImage image =
            DecodePng(PngBuilder().Signature().Header(2, 1, 8, 2).ImageData(rows).End().bytes());
        EXPECT_EQ(image.error, PngError::None);
        const std::vector<uint8_t> expected =
            filter == 2   ? Bytes({0, 10, 20, 30, 40, 50, 60})
            : filter == 3 ? Bytes({0, 10, 20, 30, 45, 60, 75})   // + a / 2
                          : Bytes({0, 10, 20, 30, 50, 70, 90});  // Paeth picks a
        EXPECT_EQ(image.scanlines, expected) << "filter " << int(filter);
    }
}

TEST(PngReader, ShortDataIsUnfilteredAsFarAsItGoes) {
    // Height 4 claimed, 2 rows and 4 bytes of a third present.
    const auto rows = Bytes({0, 1, 2, 3, 4, 5, 6,  //
                             1, 1, 1, 1, 1, 1, 1,  //
                             2, 1, 1});
    const PngImage image =
        DecodePng(PngBuilder().Signature().Header(2, 4, 8, 2).ImageData(rows).End().bytes());
    EXPECT_EQ(image.error, PngError::None);
    EXPECT_EQ(image.scanlines, Bytes({0, 1, 2, 3, 4, 5, 6,  //
                                      0, 1, 1, 1, 2, 2, 2,  //
                                      0, 2, 2}));
}

TEST(PngReader, ReadsGammaAndRenderingIntent) {
    const PngImage image = DecodePng(SmallHeader()
                                         .Chunk("gAMA", Bytes({0, 1, 0x86, 0xA0}))
                                         .Chunk("sRGB", Bytes({3}))
                                         .ImageData(SmallRows())
                                         .End()
                                         .bytes());
    EXPECT_EQ(image.gamma, 100000u);
    EXPECT_EQ(image.renderingIntent, 3u);
}

// ---- Hostile input -----------------------------------------------------------------------------

std::vector<uint8_t> SmallValidFile() {
    const auto pixels = test::MakePicture(9, 7, 4, 2);
    return test::WritePngWithLibpng({9, 7, PNG_COLOR_TYPE_RGB_ALPHA, 8, PNG_ALL_FILTERS, 6},
                                    pixels);
}

TEST(PngReader, SurvivesAFileCutAtEveryOffset) {
    const auto file = SmallValidFile();
    for (size_t size = 0; size < file.size(); ++size) {
        const PngImage image = DecodePng(std::span(file).first(size));
        EXPECT_LE(image.scanlines.size(), PngRowStride(image) * image.height) << size;
    }
}

TEST(PngReader, SurvivesEveryByteFlipped) {
    const auto file = SmallValidFile();
    for (size_t at = 0; at < file.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto damaged = file;
            damaged[at] ^= flip;
            const PngImage image = DecodePng(damaged);
            EXPECT_LE(image.scanlines.size(), PngRowStride(image) * image.height) << at;
        }
    }
}

// A stream of `size` zero bytes, deflated piece by piece.
std::vector<uint8_t> DeflatedZeros(size_t size) {
    z_stream z{};
    deflateInit(&z, 9);
    const std::vector<uint8_t> zeros(1 << 20);
    std::vector<uint8_t> out(size / 500 + 65536);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    for (size_t left = size; left > 0;) {
        const size_t step = std::min(left, zeros.size());
        left -= step;
        z.next_in = const_cast<Bytef*>(zeros.data());
        z.avail_in = uInt(step);
        deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

TEST(PngReader, ABombInflatesNoFurtherThanTheHeaderAllows) {
    const auto bomb = DeflatedZeros(size_t{256} << 20);
    ASSERT_LT(bomb.size(), 1u << 20);
    const PngImage image = DecodePng(
        PngBuilder().Signature().Header(1536, 1536, 8, 2).Chunk("IDAT", bomb).End().bytes());
    EXPECT_EQ(image.error, PngError::None);
    EXPECT_EQ(image.scanlines.size(), 1536u * (1536 * 3 + 1));
    EXPECT_LE(image.scanlines.capacity(), 1536u * (1536 * 3 + 1));
}

TEST(PngReader, AHugeHeaderOverATinyStreamAllocatesLittle) {
    const PngImage image = DecodePng(PngBuilder()
                                         .Signature()
                                         .Header(0x7FFFFFFF, 0x7FFFFFFF, 16, 6)
                                         .ImageData(SmallRows())
                                         .End()
                                         .bytes());
    EXPECT_EQ(image.error, PngError::None);
    EXPECT_EQ(image.scanlines.size(), SmallRows().size());
    EXPECT_LE(image.scanlines.capacity(), 1u << 20);
}

}  // namespace
}  // namespace Korvo
