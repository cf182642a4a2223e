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
    // The thresholds in the order a binary search over codes meets them: the n = 1, 2, 4, …, 128
    // thresholds of its n-th step at [n, 2n), searchOrder[n + j] = threshold[(2j + 1) · 128 / n].
    // Read 16 at a time from [n, n + 16), so the array ends 16 past the last step's start.
    alignas(64) std::array<float, 256> searchOrder{};
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
    for (int n = 1; n <= 128; n *= 2) {
        for (int j = 0; j < n; ++j) t.searchOrder[n + j] = t.threshold[(2 * j + 1) * 128 / n];
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

// GCC 12 takes the undefined pass-through operand inside its AVX-512 intrinsics for an
// uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The thresholds of the search's steps below, held in registers.
struct SearchRegisters {
    __m512 first;
    __m512 single[4];  // steps two to five: 2, 4, 8 and 16 thresholds, one register each
    __m512 sixth[2], seventh[4], eighth[8];
};

// One step of the search for each of `n` vectors: `add` more where v is at or above the lane's
// threshold.
template <int n>
[[gnu::always_inline]] __attribute__((target("avx512f"))) inline void SearchStep(
    __m512i (&code)[n], const __m512 (&v)[n], const __m512 (&threshold)[n], int add) {
    for (int k = 0; k < n; ++k) {
        const __mmask16 above = _mm512_cmp_ps_mask(v[k], threshold[k], _CMP_GE_OQ);
        code[k] = _mm512_mask_add_epi32(code[k], above, code[k], _mm512_set1_epi32(add));
    }
}

// The pixels of `n` vectors, sixteen values each, to their 8-bit codes. A colour's code is the
// number of thresholds 1..255 at or below it, found by a binary search whose every step picks
// each lane's threshold out of registers; values at or below 0 and NaN meet none, values at or
// above 1 all, as Encode clamps them. Alpha as EncodeAlpha. The vectors go through the steps
// side by side, as one alone would leave the processor waiting on each step's result.
template <int n>
[[gnu::always_inline]] __attribute__((target("avx512f"))) inline void EncodeVectors(
    const SearchRegisters& r, const float* in, std::uint8_t* out) {
    __m512 v[n], threshold[n];
    __m512i code[n], j[n];
    for (int k = 0; k < n; ++k) {
        v[k] = _mm512_loadu_ps(in + 16 * k);
        code[k] = _mm512_setzero_si512();
        threshold[k] = r.first;
    }
    SearchStep(code, v, threshold, 128);
    // Step s + 2 looks its threshold up by the code's bits above the 64 >> s it may add.
    for (int step = 0; step < 4; ++step) {
        for (int k = 0; k < n; ++k)
            threshold[k] =
                _mm512_permutexvar_ps(_mm512_srli_epi32(code[k], 7 - step), r.single[step]);
        SearchStep(code, v, threshold, 64 >> step);
    }
    // Two-register lookups take the low five bits of the index; the bits above pick the pair.
    for (int k = 0; k < n; ++k) {
        j[k] = _mm512_srli_epi32(code[k], 3);
        threshold[k] = _mm512_permutex2var_ps(r.sixth[0], j[k], r.sixth[1]);
    }
    SearchStep(code, v, threshold, 4);
    const __m512i bit5 = _mm512_set1_epi32(32), bit6 = _mm512_set1_epi32(64);
    for (int k = 0; k < n; ++k) {
        j[k] = _mm512_srli_epi32(code[k], 2);
        threshold[k] =
            _mm512_mask_blend_ps(_mm512_test_epi32_mask(j[k], bit5),
                                 _mm512_permutex2var_ps(r.seventh[0], j[k], r.seventh[1]),
                                 _mm512_permutex2var_ps(r.seventh[2], j[k], r.seventh[3]));
    }
    SearchStep(code, v, threshold, 2);
    for (int k = 0; k < n; ++k) {
        j[k] = _mm512_srli_epi32(code[k], 1);
        const __mmask16 upper = _mm512_test_epi32_mask(j[k], bit5);
        const __m512 low =
            _mm512_mask_blend_ps(upper, _mm512_permutex2var_ps(r.eighth[0], j[k], r.eighth[1]),
                                 _mm512_permutex2var_ps(r.eighth[2], j[k], r.eighth[3]));
        const __m512 high =
            _mm512_mask_blend_ps(upper, _mm512_permutex2var_ps(r.eighth[4], j[k], r.eighth[5]),
                                 _mm512_permutex2var_ps(r.eighth[6], j[k], r.eighth[7]));
        threshold[k] = _mm512_mask_blend_ps(_mm512_test_epi32_mask(j[k], bit6), low, high);
    }
    SearchStep(code, v, threshold, 1);

    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    const __m512 alphaScale = _mm512_set1_ps(255.0f), half = _mm512_set1_ps(0.5f);
    const __mmask16 alphaLanes = 0x8888;
    for (int k = 0; k < n; ++k) {
        const __mmask16 positive = _mm512_cmp_ps_mask(v[k], zero, _CMP_GT_OQ);
        const __mmask16 full = _mm512_cmp_ps_mask(v[k], one, _CMP_GE_OQ);
        const __m512i alpha =
            _mm512_cvttps_epi32(_mm512_add_ps(_mm512_mul_ps(v[k], alphaScale), half));
        __m512i c = _mm512_mask_mov_epi32(code[k], alphaLanes, alpha);
        c = _mm512_mask_mov_epi32(c, __mmask16(alphaLanes & full), _mm512_set1_epi32(255));
        c = _mm512_maskz_mov_epi32(__mmask16(~alphaLanes | positive), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), _mm512_cvtepi32_epi8(c));
    }
}

// Four pixels at a time and more, as EncodePixelPairs takes two, but without table gathers,
// which are slow on some processors.
__attribute__((target("avx512f"))) std::size_t EncodePixelQuads(const EncodeTables& t,
                                                                const float* in, std::uint8_t* out,
                                                                std::size_t count) {
    const float* order = t.searchOrder.data();
    SearchRegisters r;
    r.first = _mm512_set1_ps(order[1]);
    for (int step = 0; step < 4; ++step) r.single[step] = _mm512_loadu_ps(order + (2 << step));
    for (int k = 0; k < 2; ++k) r.sixth[k] = _mm512_load_ps(order + 32 + 16 * k);
    for (int k = 0; k < 4; ++k) r.seventh[k] = _mm512_load_ps(order + 64 + 16 * k);
    for (int k = 0; k < 8; ++k) r.eighth[k] = _mm512_load_ps(order + 128 + 16 * k);
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) EncodeVectors<2>(r, in + i, out + i);
    for (; i + 16 <= count; i += 16) EncodeVectors<1>(r, in + i, out + i);
    return i;
}
#pragma GCC diagnostic pop
#endif

void EncodeSrgb8Rgba(std::span<const float> linearRgba, std::span<std::uint8_t> rgba8) {
    const EncodeTables& t = Tables();
    const std::size_t count = std::min(linearRgba.size(), rgba8.size());
    const float* in = linearRgba.data();
    std::uint8_t* out = rgba8.data();
    std::size_t i = 0;
#ifdef KORVO_SRGB_AVX2
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx512) i = EncodePixelQuads(t, in, out, count);
    if (avx2) i += EncodePixelPairs(t, in + i, out + i, count - i);
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
