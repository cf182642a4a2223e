#include "standalone_host/image_files/srgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace KorvoHost {
namespace {

int ReferenceCode(double linear) {
    const double v = std::clamp(linear, 0.0, 1.0);
    const double display = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return int(std::floor(display * 255.0 + 0.5));
}

TEST(Srgb, EncodeSrgb8RoundsLikeTheCurve) {
    // Dense near black, where the table's buckets are tightest, and across the whole range.
    for (int i = 0; i <= 200000; ++i) {
        const float linear = float(i) / 200000.0f;
        ASSERT_EQ(int(EncodeSrgb8(linear)), ReferenceCode(linear)) << "linear " << linear;
    }
    for (int i = 0; i <= 20000; ++i) {
        const float linear = float(i) * 1e-7f;
        ASSERT_EQ(int(EncodeSrgb8(linear)), ReferenceCode(linear)) << "linear " << linear;
    }
}

TEST(Srgb, OutOfRangeValuesClamp) {
    EXPECT_EQ(EncodeSrgb8(-1.0f), 0);
    EXPECT_EQ(EncodeSrgb8(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(EncodeSrgb8(1.5f), 255);
    EXPECT_EQ(EncodeSrgb8(std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(SrgbToLinear(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(SrgbToLinear(2.0f), 1.0f);
    EXPECT_EQ(LinearToSrgb(-0.5f), 0.0f);
}

TEST(Srgb, DecodeInvertsEncode) {
    for (int code = 0; code <= 255; ++code) {
        const float display = float(code) / 255.0f;
        EXPECT_EQ(int(EncodeSrgb8(SrgbToLinear(display))), code);
        EXPECT_NEAR(LinearToSrgb(SrgbToLinear(display)), display, 1e-6f);
    }
    EXPECT_NEAR(SrgbToLinear(0.5f), 0.2140411f, 1e-6f);
}

TEST(Srgb, RgbaEncodingKeepsAlphaLinear) {
    const float mid = SrgbToLinear(128.0f / 255.0f);
    const std::vector<float> linear = {mid, 1.0f, 0.0f, 0.5f, 2.0f, -1.0f, 0.0f, 1.0f};
    std::vector<std::uint8_t> bytes(8);
    EncodeSrgb8Rgba(linear, bytes);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{128, 255, 0, 128, 255, 0, 0, 255}));
}

// Long rows go through the encoder several pixels at a time; every value must come out as it
// does alone, whatever it is and wherever in the row it falls.
TEST(Srgb, RgbaRowsEncodeEveryValueAsItDoesAlone) {
    std::vector<float> linear;
    for (int i = 0; i <= 40000; ++i) linear.push_back(float(i) / 40000.0f);
    for (int code = 0; code <= 255; ++code) {
        // Both sides of every threshold
        const float threshold = SrgbToLinear((float(code) + 0.5f) / 255.0f);
        for (const float v :
             {threshold, std::nextafter(threshold, 0.0f), std::nextafter(threshold, 2.0f),
              float(code) / 255.0f + 0.5f / 255.0f})
            linear.push_back(v);
    }
    const float inf = std::numeric_limits<float>::infinity();
    for (const float v : {0.0f, -0.0f, -1.0f, 1.0f, std::nextafter(1.0f, 0.0f), 1.5f, inf, -inf,
                          std::numeric_limits<float>::quiet_NaN(), 1e-40f, 3e38f, -3e38f})
        linear.push_back(v);
    linear.resize(linear.size() + 4 - linear.size() % 4 + 12, 0.75f);  // whole pixels, and a tail

    auto alpha = [](float a) {
        if (!(a > 0.0f)) return 0;
        if (a >= 1.0f) return 255;
        return int(a * 255.0f + 0.5f);
    };
    // Every value once in each channel
    for (int shift = 0; shift < 4; ++shift) {
        std::vector<float> row(linear.size());
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = linear[(i + shift) % linear.size()];
        for (const std::size_t length : {row.size(), row.size() - 4, std::size_t(4)}) {
            std::vector<std::uint8_t> bytes(length);
            EncodeSrgb8Rgba({row.data(), length}, bytes);
            for (std::size_t i = 0; i < length; ++i) {
                const int expected = i % 4 == 3 ? alpha(row[i]) : int(EncodeSrgb8(row[i]));
                ASSERT_EQ(int(bytes[i]), expected) << "value " << row[i] << " at " << i;
            }
        }
    }
}

// The vector paths against the one-value encoder over every float of (0, 1), the values that go
// through the tables: each one in a colour channel, and every other one as alpha.
TEST(SrgbSlow, RgbaRowsEncodeEveryFloatBelowOneAsItDoesAlone) {
    constexpr std::uint32_t kOne = 0x3F800000;
    constexpr std::uint32_t kChunk = 1 << 20;
    std::vector<float> row(kChunk);
    std::vector<std::uint8_t> bytes(kChunk);
    for (std::uint32_t shift = 0; shift < 2; ++shift) {
        for (std::uint32_t first = 0; first < kOne; first += kChunk) {
            for (std::uint32_t i = 0; i < kChunk; ++i) {
                const std::uint32_t bits = std::min(first + i + shift, kOne);
                std::memcpy(&row[i], &bits, 4);
            }
            EncodeSrgb8Rgba(row, bytes);
            for (std::uint32_t i = 0; i < kChunk; ++i) {
                const float v = row[i];
                const int expected =
                    i % 4 == 3 ? int(v >= 1.0f ? 255 : v * 255.0f + 0.5f) : int(EncodeSrgb8(v));
                if (int(bytes[i]) != expected) {
                    FAIL() << "value " << v << " (bits " << std::hex << first + i + shift
                           << std::dec << ") in channel " << i % 4 << ": " << int(bytes[i])
                           << ", alone " << expected;
                }
            }
        }
    }
}

}  // namespace
}  // namespace KorvoHost
