#include "standalone_host/image_files/srgb.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define KORVO_SRGB_AVX2 1
#endif

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
    // Room for a four-byte load at the last bucket
    std::array<std::uint8_t, 3> bucketPadding{};
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

#ifdef KORVO_SRGB_AVX2
// Two pixels at a time, as Encode and EncodeAlpha take each value: the bucket's code and the
// threshold above it gathered from the tables. Answers how many values it encoded.
__attribute__((target("avx2"))) std::size_t EncodePixelPairs(const EncodeTables& t, const float* in,
                                                             std::uint8_t* out, std::size_t count) {
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 buckets = _mm256_set1_ps(float(kBuckets));
    const __m256 alphaScale = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
    const __m256i alphaLanes = _mm256_setr_epi32(0, 0, 0, -1, 0, 0, 0, -1);
    const __m256i byteMask = _mm256_set1_epi32(0xFF), top = _mm256_set1_epi32(255);
    const __m256i next = _mm256_set1_epi32(1);
    const int* codes = reinterpret_cast<const int*>(t.bucketCode.data());
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 v = _mm256_loadu_ps(in + i);
        // False for NaN, which so lands on 0
        const __m256 positive = _mm256_cmp_ps(v, zero, _CMP_GT_OQ);
        const __m256 full = _mm256_cmp_ps(v, one, _CMP_GE_OQ);
        // Lanes out of (0, 1) look up bucket 0 and are overwritten below
        const __m256 inside = _mm256_andnot_ps(full, positive);
        const __m256i bucket =
            _mm256_cvttps_epi32(_mm256_and_ps(_mm256_mul_ps(v, buckets), inside));
        __m256i code = _mm256_and_si256(_mm256_i32gather_epi32(codes, bucket, 1), byteMask);
        const __m256 threshold =
            _mm256_i32gather_ps(t.threshold.data(), _mm256_add_epi32(code, next), 4);
        code = _mm256_sub_epi32(code, _mm256_castps_si256(_mm256_cmp_ps(v, threshold, _CMP_GE_OQ)));
        const __m256i alpha =
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, alphaScale), half));
        code = _mm256_blendv_epi8(code, alpha, alphaLanes);
        code = _mm256_blendv_epi8(code, top, _mm256_castps_si256(full));
        code = _mm256_and_si256(code, _mm256_castps_si256(positive));
        const __m256i words = _mm256_packus_epi32(code, code);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const int low = _mm_cvtsi128_si32(_mm256_castsi256_si128(bytes));
        const int high = _mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1));
        std::memcpy(out + i, &low, 4);
        std::memcpy(out + i + 4, &high, 4);
    }
    return i;
}
#endif

void EncodeSrgb8Rgba(std::span<const float> linearRgba, std::span<std::uint8_t> rgba8) {
    const EncodeTables& t = Tables();
    const std::size_t count = std::min(linearRgba.size(), rgba8.size());
    const float* in = linearRgba.data();
    std::uint8_t* out = rgba8.data();
    std::size_t i = 0;
#ifdef KORVO_SRGB_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) i = EncodePixelPairs(t, in, out, count);
#endif
    for (; i + 4 <= count; i += 4) {
        out[i] = Encode(t, in[i]);
        out[i + 1] = Encode(t, in[i + 1]);
        out[i + 2] = Encode(t, in[i + 2]);
        out[i + 3] = EncodeAlpha(in[i + 3]);
    }
    for (; i < count; ++i) out[i] = (i % 4 == 3) ? EncodeAlpha(in[i]) : Encode(t, in[i]);
}

}  // namespace KorvoHost
