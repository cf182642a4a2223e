#include "stitch/checksums.h"

#include <zlib.h>

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

#if KORVO_HAS_AVX2
// Carry-less multiplication folds the data 64 bytes at a step into four 128-bit remainders with
// the same CRC, then those into one; zlib finishes that one and the last few bytes. The factors
// are x^(k − 1) mod P for the distances k that each half of a remainder moves forward: 544 and
// 480 bits for the four-way step, 160 and 96 bits for the one-way step.
[[gnu::always_inline, gnu::target("pclmul,sse4.1")]] inline __m128i Fold(__m128i x,
                                                                         __m128i factors) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, factors, 0x00),
                         _mm_clmulepi64_si128(x, factors, 0x11));
}

[[gnu::target("pclmul,sse4.1")]] uint32_t Crc32Clmul(uint32_t crc, const uint8_t* data,
                                                     size_t size) {
    const auto load = [](const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    const __m128i fourWay = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i oneWay = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    // The running value enters as the first 32 bits of the data, as the register's start.
    __m128i x[4] = {_mm_xor_si128(load(data), _mm_cvtsi32_si128(int(~crc))), load(data + 16),
                    load(data + 32), load(data + 48)};
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        for (int i = 0; i < 4; ++i) x[i] = _mm_xor_si128(Fold(x[i], fourWay), load(data + 16 * i));
    }
    __m128i r = x[0];
    for (int i = 1; i < 4; ++i) r = _mm_xor_si128(Fold(r, oneWay), x[i]);
    for (; size >= 16; data += 16, size -= 16) r = _mm_xor_si128(Fold(r, oneWay), load(data));
    // The remainder as 16 bytes of a message that starts from a zero register.
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), r);
    const uLong folded = crc32(0xFFFFFFFFul, rest, 16);
    return uint32_t(crc32(folded, data, uInt(size)));
}
#endif

uint32_t Crc32Zlib(uint32_t crc, const uint8_t* data, size_t size) {
    uLong value = crc;
    // zlib takes at most 4 GiB minus one per call.
    while (size > 0) {
        const uInt step = size > 0x40000000u ? 0x40000000u : uInt(size);
        value = crc32(value, data, step);
        data += step;
        size -= step;
    }
    return uint32_t(value);
}

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
#if KORVO_HAS_AVX2
    static const bool clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    if (clmul && size >= 64) return Crc32Clmul(crc, data, size);
#endif
    return Crc32Zlib(crc, data, size);
}

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
#if KORVO_HAS_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return Adler32Avx2(adler, data, size);
#endif
    return Adler32Portable(adler, data, size);
}

}  // namespace Korvo
