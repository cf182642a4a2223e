#include "standalone_host/image_files/image_files.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "standalone_host/image_files/srgb.h"
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

TEST_F(ImageFilesTest, FloatPixelsAreWrittenSrgbEncoded) {
    const int width = 16, height = 4;
    std::vector<float> linear(std::size_t(width) * height * 4);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-0.2f, 1.2f);
    for (float& v : linear) v = value(random);
    std::vector<std::uint8_t> expected(linear.size());
    EncodeSrgb8Rgba(linear, expected);

    const fs::path path = folder_ / "float.png";
    ASSERT_TRUE(WritePng(path, ImageRgbaFloatView{width, height, linear}));
    ImageRgba8 read;
    ASSERT_TRUE(ReadPng(path, read));
    EXPECT_EQ(read.pixels, expected);

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
