#include "stitch/checksums.h"

#include <zlib.h>

#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_AVX2 1
#include <immintrin.h>
#endif

namespace Korvo {
namespace {

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

}  // namespace Korvo
