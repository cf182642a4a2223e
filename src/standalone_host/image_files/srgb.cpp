#include "standalone_host/image_files/srgb.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace KorvoHost {
namespace {

double DecodeExact(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double EncodeExact(double v) {
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

// The 8-bit encoder looks the value's bucket up and corrects by one threshold compare. This is
// exact as long as no bucket holds two thresholds: thresholds are closest at the linear toe of
// the curve, 1 / (12.92 · 255) ≈ 3.0e-4 apart, wider than a bucket of 1 / 4096 ≈ 2.4e-4.
constexpr int kBuckets = 4096;

struct EncodeTables {
    // threshold[k]: the smallest linear value that encodes to k (k = 1..255); threshold[256]
    // stops the correction step at 255.
    std::array<float, 257> threshold{};
    std::array<std::uint8_t, kBuckets> bucketCode{};
};

EncodeTables BuildTables() {
    EncodeTables t;
    t.threshold[0] = 0.0f;
    for (int k = 1; k <= 255; ++k) {
        // The smallest float at or above the exact threshold, so that the compare below agrees
        // with rounding the exact curve.
        const double exact = DecodeExact((k - 0.5) / 255.0);
        float threshold = static_cast<float>(exact);
        if (static_cast<double>(threshold) < exact) {
            threshold = std::nextafter(threshold, 2.0f);
        }
        t.threshold[k] = threshold;
    }
    t.threshold[256] = 2.0f;
    int code = 0;
    for (int b = 0; b < kBuckets; ++b) {
        const float start = static_cast<float>(b) / kBuckets;
        while (code < 255 && start >= t.threshold[code + 1]) ++code;
        t.bucketCode[b] = static_cast<std::uint8_t>(code);
    }
    return t;
}

const EncodeTables& Tables() {
    static const EncodeTables tables = BuildTables();
    return tables;
}

inline std::uint8_t Encode(const EncodeTables& t, float linear) {
    // Written so that NaN fails the first test and lands on 0.
    if (!(linear > 0.0f)) return 0;
    if (linear >= 1.0f) return 255;
    int code = t.bucketCode[static_cast<int>(linear * kBuckets)];
    if (linear >= t.threshold[code + 1]) ++code;
    return static_cast<std::uint8_t>(code);
}

inline std::uint8_t EncodeAlpha(float alpha) {
    if (!(alpha > 0.0f)) return 0;
    if (alpha >= 1.0f) return 255;
    return static_cast<std::uint8_t>(alpha * 255.0f + 0.5f);
}

}  // namespace

float SrgbToLinear(float display) {
    if (!(display > 0.0f)) return 0.0f;
    return static_cast<float>(DecodeExact(std::min(static_cast<double>(display), 1.0)));
}

float LinearToSrgb(float linear) {
    if (!(linear > 0.0f)) return 0.0f;
    return static_cast<float>(EncodeExact(std::min(static_cast<double>(linear), 1.0)));
}

std::uint8_t EncodeSrgb8(float linear) { return Encode(Tables(), linear); }

void EncodeSrgb8Rgba(std::span<const float> linearRgba, std::span<std::uint8_t> rgba8) {
    const EncodeTables& t = Tables();
    const std::size_t count = std::min(linearRgba.size(), rgba8.size());
    const float* in = linearRgba.data();
    std::uint8_t* out = rgba8.data();
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        out[i] = Encode(t, in[i]);
        out[i + 1] = Encode(t, in[i + 1]);
        out[i + 2] = Encode(t, in[i + 2]);
        out[i + 3] = EncodeAlpha(in[i + 3]);
    }
    for (; i < count; ++i) out[i] = (i % 4 == 3) ? EncodeAlpha(in[i]) : Encode(t, in[i]);
}

}  // namespace KorvoHost
