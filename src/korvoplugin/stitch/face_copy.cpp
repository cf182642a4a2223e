#include "stitch/face_copy.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "stitch/stitcher.h"

namespace Korvo::stitching {
namespace {

#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_SSSE3 1

// Byte shuffles that reverse the order of 16 RGB pixels (48 bytes): output byte j is input byte
// 45 − 3⌊j ÷ 3⌋ + j mod 3. For each 16-byte output block and input block, the input bytes it
// takes, or 0x80 (none).
struct MirrorMasks {
    alignas(16) int8_t mask[3][3][16];
};

constexpr MirrorMasks MakeMirrorMasks() {
    MirrorMasks m{};
    for (int out = 0; out < 3; ++out) {
        for (int in = 0; in < 3; ++in) {
            for (int k = 0; k < 16; ++k) {
                const int j = 16 * out + k;
                const int from = 45 - 3 * (j / 3) + j % 3;
                m.mask[out][in][k] = int8_t(from / 16 == in ? from % 16 : 0x80);
            }
        }
    }
    return m;
}

constexpr MirrorMasks kMirrorMasks = MakeMirrorMasks();

// Mirrors `count` RGB pixels from `src` into the cell row (pixel j to kFaceSize − 1 − j), 16 at
// a time; answers how many it did.
[[gnu::target("ssse3")]] size_t MirrorRgbSsse3(const uint8_t* src, size_t count, uint8_t* cellRow) {
    __m128i masks[3][3];
    for (int o = 0; o < 3; ++o) {
        for (int i = 0; i < 3; ++i) {
            masks[o][i] = _mm_load_si128(reinterpret_cast<const __m128i*>(kMirrorMasks.mask[o][i]));
        }
    }
    const size_t blocks = count / 16;
    for (size_t b = 0; b < blocks; ++b) {
        const __m128i in[3] = {
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 * b)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 * b + 16)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 * b + 32))};
        // Pixels 16b … 16b + 15 land at kFaceSize − 16 − 16b onwards, reversed.
        uint8_t* dst = cellRow + (kFaceSize - 16 * (b + 1)) * 3;
        for (int o = 0; o < 3; ++o) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], masks[o][0]),
                                                        _mm_shuffle_epi8(in[1], masks[o][1])),
                                           _mm_shuffle_epi8(in[2], masks[o][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * o), v);
        }
    }
    return blocks * 16;
}
#endif

template <uint32_t PixelBytes, uint32_t SampleBytes, bool Mirror>
void CopyPixels(const uint8_t* src, size_t count, uint8_t* cellRow) {
    if constexpr (PixelBytes == 3 && !Mirror) {
        std::memcpy(cellRow, src, count * 3);
        return;
    }
    size_t j = 0;
#if KORVO_HAS_SSSE3
    if constexpr (PixelBytes == 3) {
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
        if (ssse3) j = MirrorRgbSsse3(src, count, cellRow);
    }
#endif
    for (; j < count; ++j) {
        const uint8_t* p = src + j * PixelBytes;
        uint8_t* dst = cellRow + 3 * (Mirror ? kFaceSize - 1 - j : j);
        dst[0] = p[0];
        dst[1] = p[SampleBytes];
        dst[2] = p[2 * SampleBytes];
    }
}

template <bool Mirror>
void CopyPixels(const FaceSamples& samples, const uint8_t* src, size_t count, uint8_t* cellRow) {
    switch (samples.pixelBytes) {
        case 3:
            return CopyPixels<3, 1, Mirror>(src, count, cellRow);
        case 4:
            return CopyPixels<4, 1, Mirror>(src, count, cellRow);
        case 6:
            return CopyPixels<6, 2, Mirror>(src, count, cellRow);
        default:
            return CopyPixels<8, 2, Mirror>(src, count, cellRow);
    }
}

// Reads one face file row by row. A face that cannot be opened, is no PNG, or has no RGB pixels
// gives black rows; one whose image data proves damaged must be painted black as a whole, which

}  // namespace

void CopyFacePixels(const FaceSamples& samples, bool mirror, const uint8_t* src, size_t count,
                    uint8_t* cellRow) {
    if (mirror)
        CopyPixels<true>(samples, src, count, cellRow);
    else
        CopyPixels<false>(samples, src, count, cellRow);
}

}  // namespace Korvo::stitching
