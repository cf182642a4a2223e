#include "standalone_host/image_files/srgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

}  // namespace
}  // namespace KorvoHost
