#include "standalone_host/image_files/image_files.h"

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "standalone_host/image_files/image_file_io.h"
#include "standalone_host/image_files/png_writer.h"
#include "standalone_host/image_files/srgb.h"
#include "stitch/png_reader.h"
#include "test_support/temp_dir.h"

namespace KorvoHost {
namespace {

namespace fs = std::filesystem;

class ImageFilesTest : public ::testing::Test {
  protected:
    KorvoTest::TempDir dir_;
    const fs::path folder_ = dir_.path();
};

// A smooth colour ramp with varying alpha: easy on JPEG, every byte value on PNG.
std::vector<std::uint8_t> Ramp(int width, int height) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &pixels[(std::size_t(y) * width + x) * 4];
            p[0] = std::uint8_t(x * 255 / std::max(1, width - 1));
            p[1] = std::uint8_t(y * 255 / std::max(1, height - 1));
            p[2] = std::uint8_t((x + y) * 127 / std::max(1, width + height - 2));
            p[3] = std::uint8_t((x * 7 + y * 13) % 256);
        }
    }
    return pixels;
}

std::vector<char> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double ColourPsnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        ++count;
    }
    const double mse = sum / double(count);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(ImageFilesTest, PngRoundTripsRgbaAndRgb) {
    const int width = 37, height = 23;
    const std::vector<std::uint8_t> pixels = Ramp(width, height);
    const ImageRgba8View view{width, height, pixels};

    const fs::path rgba = folder_ / "rgba.png";
    ASSERT_TRUE(WritePng(rgba, view, PngChannels::Rgba)) << rgba;
    ImageRgba8 read;
    ASSERT_TRUE(ReadPng(rgba, read)) << rgba;
    EXPECT_EQ(read.width, width);
    EXPECT_EQ(read.height, height);
    EXPECT_EQ(read.pixels, pixels);

    const fs::path rgb = folder_ / "rgb.png";
    ASSERT_TRUE(WritePng(rgb, view, PngChannels::Rgb)) << rgb;
    ASSERT_TRUE(ReadPng(rgb, read)) << rgb;
    std::vector<std::uint8_t> opaque = pixels;
    for (std::size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    EXPECT_EQ(read.pixels, opaque);
    EXPECT_LT(fs::file_size(rgb), fs::file_size(rgba));
}

// Noise that deflate cannot shrink, or one colour that shrinks to almost nothing.
std::vector<std::uint8_t> Grainy(int width, int height) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    std::mt19937 random(std::uint32_t(width * 31 + height));
    for (std::uint8_t& v : pixels) v = std::uint8_t(random());
    return pixels;
}

std::vector<std::uint8_t> Flat(int width, int height) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 40, pixels[i + 1] = 90, pixels[i + 2] = 200, pixels[i + 3] = 255;
    }
    return pixels;
}

// What a file of these pixels holds: RGBA as given, or RGB without the alpha.
std::vector<std::uint8_t> Samples(const std::vector<std::uint8_t>& rgba, PngChannels channels) {
    if (channels == PngChannels::Rgba) return rgba;
    std::vector<std::uint8_t> rgb;
    rgb.reserve(rgba.size() / 4 * 3);
    for (std::size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), &rgba[i], &rgba[i + 3]);
    return rgb;
}

// The file's samples as the plug-in's stitch reads them, row by row; empty when it refuses.
std::vector<std::uint8_t> StitchReaderSamples(const fs::path& path, int width, int height,
                                              int channels) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    std::vector<std::uint8_t> samples;
    {
        Korvo::PngRowReader reader(file);
        const std::size_t rowBytes = std::size_t(width) * channels;
        for (std::span<const std::uint8_t> row; !(row = reader.NextRow()).empty();) {
            if (row.size() != rowBytes + 1 || row[0] != 0) break;
            samples.insert(samples.end(), row.begin() + 1, row.end());
        }
        reader.Finish();
        const Korvo::PngImage& header = reader.header();
        if (reader.damaged() || reader.error() != Korvo::PngError::None ||
            header.width != std::uint32_t(width) || header.height != std::uint32_t(height) ||
            header.colorType != (channels == 4 ? 6 : 2) ||
            samples.size() != rowBytes * std::size_t(height)) {
            samples.clear();
        }
    }
    std::fclose(file);
    return samples;
}

// Writes with the encoder split into `bands` bands (0: as WritePng chooses) deflated by
// `deflate`.
ImageFileStatus WritePngBands(const fs::path& path, const std::vector<std::uint8_t>& pixels,
                              int width, int height, PngChannels channels, int bands,
                              ImageFileIo::PngDeflate deflate = ImageFileIo::PngDeflate::Isal) {
    if (bands == 0 && deflate == ImageFileIo::PngDeflate::Isal) {
        return WritePng(path, ImageRgba8View{width, height, pixels}, channels);
    }
    const int values = channels == PngChannels::Rgba ? 4 : 3;
    if (bands == 0) bands = ImageFileIo::PngBandCount(width, height, values);
    return ImageFileIo::WriteImage(
        path, ImageFileIo::RowSource(ImageRgba8View{width, height, pixels}), INT_MAX,
        [&](std::FILE* file, ImageFileIo::RowSource& rows, std::string& problem) {
            return ImageFileIo::EncodePngInBands(file, rows, values, bands, problem, deflate);
        });
}

// Rows are deflated in bands, each filtered against the row above even across a band's edge:
// whatever the split and the deflater, libpng and the stitch's reader see exactly the pixels
// written.
// Every split with ISA-L's deflater, the first and the last also with zlib's.
std::vector<std::pair<int, ImageFileIo::PngDeflate>> BandSplits(const std::vector<int>& bands) {
    std::vector<std::pair<int, ImageFileIo::PngDeflate>> splits;
    for (int b : bands) splits.emplace_back(b, ImageFileIo::PngDeflate::Isal);
    splits.emplace_back(bands.front(), ImageFileIo::PngDeflate::Zlib);
    splits.emplace_back(bands.back(), ImageFileIo::PngDeflate::Zlib);
    return splits;
}

TEST_F(ImageFilesTest, PngBandsJoinIntoOneImageForBothReaders) {
    struct Case {
        int width, height;
        std::vector<int> bands;
    };
    const std::vector<Case> cases = {
        {1, 1, {0, 1, 3}}, {1, 7, {0, 2, 3, 7, 9}}, {3, 1000, {0, 3, 7}}, {1536, 1536, {0, 5}}};
    for (const Case& c : cases) {
        for (bool grainy : {true, false}) {
            const std::vector<std::uint8_t> pixels =
                grainy ? Grainy(c.width, c.height) : Flat(c.width, c.height);
            for (PngChannels channels : {PngChannels::Rgba, PngChannels::Rgb}) {
                const std::vector<std::uint8_t> expected = Samples(pixels, channels);
                const int values = channels == PngChannels::Rgba ? 4 : 3;
                for (const auto& [bands, deflate] : BandSplits(c.bands)) {
                    const fs::path path =
                        folder_ /
                        (std::to_string(c.width) + "x" + std::to_string(c.height) +
                         (grainy ? "-grainy" : "-flat") + "-" + std::to_string(values) + "-in-" +
                         std::to_string(bands) +
                         (deflate == ImageFileIo::PngDeflate::Zlib ? "-zlib" : "") + ".png");
                    ASSERT_TRUE(
                        WritePngBands(path, pixels, c.width, c.height, channels, bands, deflate))
                        << path;
                    ImageRgba8 read;
                    ASSERT_TRUE(ReadPng(path, read)) << path;
                    EXPECT_EQ(read.width, c.width) << path;
                    EXPECT_EQ(read.height, c.height) << path;
                    EXPECT_TRUE(Samples(read.pixels, channels) == expected) << path;
                    if (channels == PngChannels::Rgb) {
                        for (std::size_t i = 3; i < read.pixels.size(); i += 4) {
                            ASSERT_EQ(read.pixels[i], 255) << path << ", value " << i;
                        }
                    }
                    EXPECT_TRUE(StitchReaderSamples(path, c.width, c.height, values) == expected)
                        << path;
                }
            }
        }
    }
    // Runs of one colour still shrink to almost nothing when split (deflate's longest match
    // of 258 bytes puts the floor near 0.4 %), and noise grows by no more than block headers.
    const std::uintmax_t raw = 1536u * (1536u * 4u + 1u);
    for (const char* name : {"1536x1536-flat-4-in-0.png", "1536x1536-flat-4-in-5.png"}) {
        EXPECT_LT(fs::file_size(folder_ / name), raw / 100) << name;
    }
    for (const char* name : {"1536x1536-grainy-4-in-0.png", "1536x1536-grainy-4-in-5.png"}) {
        EXPECT_LT(fs::file_size(folder_ / name), raw + raw / 100) << name;
    }
}

// Writers on several threads at once share the encoder's helper threads or go without them:
// every file still holds its own pixels.
TEST_F(ImageFilesTest, PngsWrittenOnSeveralThreadsAtOnceKeepTheirPixels) {
    const int width = 640, height = 480;
    std::vector<std::vector<std::uint8_t>> images;
    for (int i = 0; i < 4; ++i) {
        images.push_back(i % 2 ? Grainy(width + i, height) : Flat(width + i, height));
    }
    std::vector<std::thread> writers;
    std::vector<int> written(images.size(), 0);
    for (std::size_t i = 0; i < images.size(); ++i) {
        writers.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) {
                const fs::path path = folder_ / ("thread-" + std::to_string(i) + "-" +
                                                 std::to_string(round) + ".png");
                const ImageRgba8View view{width + int(i), height, images[i]};
                written[i] += bool(WritePng(path, view, PngChannels::Rgba));
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    for (std::size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(written[i], 5) << "thread " << i;
        for (int round = 0; round < 5; ++round) {
            const fs::path path =
                folder_ / ("thread-" + std::to_string(i) + "-" + std::to_string(round) + ".png");
            ImageRgba8 read;
            ASSERT_TRUE(ReadPng(path, read)) << path;
            EXPECT_TRUE(read.pixels == images[i]) << path;
        }
    }
}

// Restores the file-size limit and the signal it raises when the test ends.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail as on a full disk
        const rlimit limit{std::min(bytes, saved_.rlim_max), saved_.rlim_max};
        set_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool set() const { return set_; }

  private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
    bool set_ = false;
};

// A disk that fills up while a face is written: the write fails saying why, and leaves neither
// a partial file nor a damaged earlier one.
TEST_F(ImageFilesTest, PngOnAFullDiskFailsAndLeavesNothing) {
    const int side = 512;
    const std::vector<std::uint8_t> pixels = Grainy(side, side);  // about a megabyte of file
    const fs::path fresh = folder_ / "fresh.png", kept = folder_ / "kept.png";
    std::ofstream(kept) << "an earlier file";
    {
        FileSizeLimit limit(300'000);
        ASSERT_TRUE(limit.set());
        for (const fs::path& path : {fresh, kept}) {
            for (PngChannels channels : {PngChannels::Rgba, PngChannels::Rgb}) {
                const ImageFileStatus status =
                    WritePng(path, ImageRgba8View{side, side, pixels}, channels);
                EXPECT_FALSE(status) << path;
                EXPECT_NE(status.message.find(path.string()), std::string::npos) << status.message;
                EXPECT_NE(status.message.find("cannot write"), std::string::npos) << status.message;
            }
        }
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"kept.png"});
    const std::vector<char> keptBytes = FileBytes(kept);
    EXPECT_EQ(std::string(keptBytes.begin(), keptBytes.end()), "an earlier file");
}

// The lengths and types of a PNG file's chunks, in order.
std::vector<std::pair<std::uint32_t, std::string>> Chunks(const fs::path& path) {
    std::vector<std::pair<std::uint32_t, std::string>> chunks;
    std::ifstream in(path, std::ios::binary);
    in.seekg(8);
    for (unsigned char head[8]; in.read(reinterpret_cast<char*>(head), 8);) {
        const std::uint32_t length = std::uint32_t(head[0]) << 24 | std::uint32_t(head[1]) << 16 |
                                     std::uint32_t(head[2]) << 8 | head[3];
        chunks.emplace_back(length, std::string(reinterpret_cast<char*>(head + 4), 4));
        in.seekg(std::streamoff(length) + 4, std::ios::cur);
    }
    return chunks;
}

// Noise of 1 GiB, the most a reader here takes, deflated as one band: its data does not fit
// one chunk, and both readers still get every pixel back.
TEST(ImageFilesSlow, PngOfAGibibyteSplitsItsImageDataIntoChunks) {
    KorvoTest::TempDir dir;
    const int side = 1 << 14;
    std::vector<std::uint8_t> pixels(std::size_t(side) * side * 4);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < pixels.size(); i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::memcpy(&pixels[i], &state, 8);
    }
    const fs::path path = dir.path() / "noise.png";
    ASSERT_TRUE(WritePngBands(path, pixels, side, side, PngChannels::Rgba, 1)) << path;

    int imageChunks = 0;
    for (const auto& [length, type] : Chunks(path)) {
        EXPECT_LT(length, 1u << 31) << type << " chunk of " << path;
        imageChunks += type == "IDAT";
    }
    EXPECT_GE(imageChunks, 2) << path;

    ImageRgba8 read;
    const ImageFileStatus status = ReadPng(path, read);
    ASSERT_TRUE(status) << status.message;
    EXPECT_TRUE(read.pixels == pixels) << path;
    read = {};
    EXPECT_TRUE(StitchReaderSamples(path, side, side, 4) == pixels) << path;
}

TEST_F(ImageFilesTest, FloatPixelsAreWrittenSrgbEncoded) {
    const int width = 16, height = 4;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-0.2f, 1.2f);
    // Small, and large enough for the rows to be encoded in bands on several threads.
    for (const auto& [w, h] : {std::pair{width, height}, std::pair{300, 900}}) {
        std::vector<float> linear(std::size_t(w) * h * 4);
        for (float& v : linear) v = value(random);
        std::vector<std::uint8_t> expected(linear.size());
        EncodeSrgb8Rgba(linear, expected);

        const fs::path path = folder_ / ("float-" + std::to_string(h) + ".png");
        ASSERT_TRUE(WritePng(path, ImageRgbaFloatView{w, h, linear}));
        ImageRgba8 read;
        ASSERT_TRUE(ReadPng(path, read));
        EXPECT_TRUE(read.pixels == expected) << path;
    }

    // Floats that decode the bytes exactly give the very same JPEG as the bytes.
    const std::vector<std::uint8_t> bytes = Ramp(width, height);
    std::vector<float> decoded(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        decoded[i] = i % 4 == 3 ? bytes[i] / 255.0f : SrgbToLinear(bytes[i] / 255.0f);
    }
    ASSERT_TRUE(WriteJpeg(folder_ / "bytes.jpg", ImageRgba8View{width, height, bytes}));
    ASSERT_TRUE(WriteJpeg(folder_ / "floats.jpg", ImageRgbaFloatView{width, height, decoded}));
    EXPECT_EQ(FileBytes(folder_ / "bytes.jpg"), FileBytes(folder_ / "floats.jpg"));
}

TEST_F(ImageFilesTest, JpegDecodesCloseToTheSource) {
    const int width = 96, height = 64;
    const std::vector<std::uint8_t> pixels = Ramp(width, height);
    const ImageRgba8View view{width, height, pixels};

    const fs::path good = folder_ / "q95.jpg";
    const fs::path poor = folder_ / "q10.jpg";
    ASSERT_TRUE(WriteJpeg(good, view, 95));
    ASSERT_TRUE(WriteJpeg(poor, view, 10));
    const std::vector<char> bytes = FileBytes(good);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(std::uint8_t(bytes[0]), 0xFF);
    EXPECT_EQ(std::uint8_t(bytes[1]), 0xD8) << "no start-of-image marker in " << good;
    EXPECT_EQ(std::uint8_t(bytes[bytes.size() - 2]), 0xFF);
    EXPECT_EQ(std::uint8_t(bytes.back()), 0xD9) << "no end-of-image marker in " << good;

    ImageRgba8 read;
    ASSERT_TRUE(ReadJpeg(good, read));
    ASSERT_EQ(read.width, width);
    ASSERT_EQ(read.height, height);
    EXPECT_GT(ColourPsnr(read.pixels, pixels), 38.0) << good;
    EXPECT_LT(fs::file_size(poor), fs::file_size(good));
}

TEST_F(ImageFilesTest, WriteImageFileChoosesByExtension) {
    const std::vector<std::uint8_t> pixels = Ramp(8, 8);
    const ImageRgba8View view{8, 8, pixels};
    ASSERT_TRUE(WriteImageFile(folder_ / "a.PNG", view));
    ASSERT_TRUE(WriteImageFile(folder_ / "b.jpeg", view));
    EXPECT_EQ(FileBytes(folder_ / "a.PNG").at(1), 'P');
    EXPECT_EQ(std::uint8_t(FileBytes(folder_ / "b.jpeg").at(1)), 0xD8);

    const ImageFileStatus status = WriteImageFile(folder_ / "c.bmp", view);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find("c.bmp"), std::string::npos) << status.message;
    EXPECT_FALSE(fs::exists(folder_ / "c.bmp"));
}

TEST_F(ImageFilesTest, UnwritablePathsFailCleanly) {
    const std::vector<std::uint8_t> pixels = Ramp(8, 8);
    const ImageRgba8View view{8, 8, pixels};

    const fs::path missing = folder_ / "no such folder" / "x.png";
    ImageFileStatus status = WritePng(missing, view);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find(missing.string()), std::string::npos) << status.message;

    // The target is a folder: the file is written, then cannot replace it.
    const fs::path folder = folder_ / "taken.jpg";
    fs::create_directory(folder);
    status = WriteJpeg(folder, view);
    EXPECT_FALSE(status);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
        << "a temporary file was left behind in " << folder_;
}

TEST_F(ImageFilesTest, BadSizesAreRefusedWithoutWriting) {
    const std::vector<std::uint8_t> pixels = Ramp(8, 8);
    const fs::path path = folder_ / "x.png";
    EXPECT_FALSE(WritePng(path, ImageRgba8View{9, 8, pixels}));
    EXPECT_FALSE(WritePng(path, ImageRgba8View{-8, -8, pixels}));
    EXPECT_FALSE(WriteJpeg(path, ImageRgba8View{0, 8, pixels}));
    EXPECT_FALSE(WriteJpeg(path, ImageRgba8View{70000, 1, std::vector<std::uint8_t>(280000)}));
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(ImageFilesTest, DamagedFilesGiveErrors) {
    const std::vector<std::uint8_t> pixels = Ramp(64, 64);
    const ImageRgba8View view{64, 64, pixels};
    ImageRgba8 read;

    for (const char* name : {"cut.png", "cut.jpg"}) {
        const fs::path path = folder_ / name;
        ASSERT_TRUE(WriteImageFile(path, view, 90));
        fs::resize_file(path, fs::file_size(path) / 2);
        const ImageFileStatus status =
            path.extension() == ".png" ? ReadPng(path, read) : ReadJpeg(path, read);
        EXPECT_FALSE(status) << path;
        EXPECT_NE(status.message.find(name), std::string::npos) << status.message;
    }

    const fs::path garbage = folder_ / "garbage.png";
    std::ofstream(garbage) << "this is not an image at all";
    EXPECT_FALSE(ReadPng(garbage, read));
    EXPECT_FALSE(ReadJpeg(garbage, read));
    EXPECT_FALSE(ReadPng(folder_ / "missing.png", read));
}

TEST_F(ImageFilesTest, GreyPngsReadAsOpaqueRgba) {
    // Written with libpng's simplified API, which our writers do not use.
    const int width = 5, height = 3;
    std::vector<std::uint8_t> grey(width * height);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = std::uint8_t(i * 17);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_GRAY;
    const fs::path path = folder_ / "grey.png";
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, grey.data(), 0, nullptr));

    ImageRgba8 read;
    ASSERT_TRUE(ReadPng(path, read));
    ASSERT_EQ(read.pixels.size(), grey.size() * 4);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        EXPECT_EQ(read.pixels[i * 4 + 0], grey[i]) << "pixel " << i;
        EXPECT_EQ(read.pixels[i * 4 + 1], grey[i]) << "pixel " << i;
        EXPECT_EQ(read.pixels[i * 4 + 2], grey[i]) << "pixel " << i;
        EXPECT_EQ(read.pixels[i * 4 + 3], 255) << "pixel " << i;
    }
}

}  // namespace
}  // namespace KorvoHost
