#include "stitch/checksums.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_AVX2 1
#include <immintrin.h>
#endif

namespace Korvo {
namespace {

constexpr uint32_t kAdlerBase = 65521;
// The most bytes after which both sums still fit 32 bits before they are reduced.
constexpr size_t kAdlerRun = 5552;

uint32_t Adler32Portable(uint32_t adler, const uint8_t* data, size_t size) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (size > 0) {
        const size_t run = size < kAdlerRun ? size : kAdlerRun;
        for (size_t i = 0; i < run; ++i) {
            a += data[i];
            b += a;
        }
        a %= kAdlerBase;
        b %= kAdlerBase;
        data += run;
        size -= run;
    }
    return b << 16 | a;
}

#if KORVO_HAS_AVX2
// Sum of the eight 32-bit lanes.
[[gnu::always_inline, gnu::target("avx2")]] inline uint64_t LaneSum(__m256i v) {
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i quarter = _mm_add_epi32(half, _mm_unpackhi_epi64(half, half));
    return uint64_t(uint32_t(_mm_cvtsi128_si32(quarter))) + uint32_t(_mm_extract_epi32(quarter, 1));
}

// 32 bytes at a step: for a step's bytes x0 … x31, a grows by their sum and b by 32 a plus
// 32 x0 + 31 x1 + … + 1 x31. Within a run the lanes gather the byte sums, the weighted sums,
// and the byte sums of all earlier steps (each worth 32 in b).
[[gnu::target("avx2")]] uint32_t Adler32Avx2(uint32_t adler, const uint8_t* data, size_t size) {
    uint64_t a = adler & 0xFFFF, b = adler >> 16;
    const __m256i weights =
        _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                         13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    constexpr size_t kStepsPerRun = kAdlerRun / 32;
    while (size >= 32) {
        size_t steps = size / 32;
        if (steps > kStepsPerRun) steps = kStepsPerRun;
        __m256i sums = zero, weighted = zero, earlier = zero;
        for (size_t s = 0; s < steps; ++s) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 32 * s));
            earlier = _mm256_add_epi32(earlier, sums);
            sums = _mm256_add_epi32(sums, _mm256_sad_epu8(v, zero));
            weighted = _mm256_add_epi32(weighted,
                                        _mm256_madd_epi16(_mm256_maddubs_epi16(v, weights), ones));
        }
        const uint64_t bytes = 32 * steps;
        b += a * bytes + 32 * LaneSum(earlier) + LaneSum(weighted);
        a += LaneSum(sums);
        a %= kAdlerBase;
        b %= kAdlerBase;
        data += bytes;
        size -= bytes;
    }
    return Adler32Portable(uint32_t(b << 16 | a), data, size);
}
#endif

}  // namespace

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
#if KORVO_HAS_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return Adler32Avx2(adler, data, size);
#endif
    return Adler32Portable(adler, data, size);
}

}  // namespace Korvo
