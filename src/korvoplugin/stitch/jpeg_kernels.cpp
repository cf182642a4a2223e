#include "stitch/jpeg_kernels.h"

#include <algorithm>
#include <cstring>

#include "stitch/jpeg_tables.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_AVX2 1
#include <immintrin.h>
#endif

namespace Korvo::jpeg {
namespace {

// ---- Portable kernels ------------------------------------------------------------------------

uint8_t ClampSample(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

int32_t Luma(int32_t r, int32_t g, int32_t b) {
    return (19595 * r + 38470 * g + 7471 * b + 32768) >> 16;
}
int32_t BlueDifference(int32_t r, int32_t g, int32_t b) {
    return 128 + ((-11059 * r - 21709 * g + 32768 * b + 32768) >> 16);
}
int32_t RedDifference(int32_t r, int32_t g, int32_t b) {
    return 128 + ((32768 * r - 27439 * g - 5329 * b + 32768) >> 16);
}

// The vector kernels leave their last pixels to these; `from` is where they stopped.
void ConvertYCbCrFrom(const uint8_t* src, int channels, int from, int width, uint8_t* y,
                      uint8_t* cb, uint8_t* cr) {
    for (int x = from; x < width; ++x) {
        const uint8_t* p = src + x * channels;
        y[x] = static_cast<uint8_t>(Luma(p[0], p[1], p[2]));
        cb[x] = ClampSample(BlueDifference(p[0], p[1], p[2]));
        cr[x] = ClampSample(RedDifference(p[0], p[1], p[2]));
    }
}

void ConvertLumaFrom(const uint8_t* src, int channels, int from, int width, uint8_t* y) {
    for (int x = from; x < width; ++x) {
        const uint8_t* p = src + x * channels;
        y[x] = static_cast<uint8_t>(Luma(p[0], p[1], p[2]));
    }
}

void DownsampleH2V2From(const uint8_t* top, const uint8_t* bottom, int from, int outWidth,
                        int outRow, uint8_t* out) {
    for (int x = from; x < outWidth; ++x) {
        const int bias = ((x + outRow) & 1) << 1;
        out[x] = static_cast<uint8_t>(
            (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + bias) >> 2);
    }
}

void DownsampleH2V1From(const uint8_t* row, int from, int outWidth, uint8_t* out) {
    for (int x = from; x < outWidth; ++x) {
        out[x] = static_cast<uint8_t>((row[2 * x] + row[2 * x + 1]) >> 1);
    }
}

void ConvertYCbCrPortable(const uint8_t* src, int channels, int width, uint8_t* y, uint8_t* cb,
                          uint8_t* cr) {
    ConvertYCbCrFrom(src, channels, 0, width, y, cb, cr);
}

void ConvertLumaPortable(const uint8_t* src, int channels, int width, uint8_t* y) {
    ConvertLumaFrom(src, channels, 0, width, y);
}

void DownsampleH2V2Portable(const uint8_t* top, const uint8_t* bottom, int outWidth, int outRow,
                            uint8_t* out) {
    DownsampleH2V2From(top, bottom, 0, outWidth, outRow, out);
}

void DownsampleH2V1Portable(const uint8_t* row, int outWidth, uint8_t* out) {
    DownsampleH2V1From(row, 0, outWidth, out);
}

// The accurate integer DCT: Loeffler, Ligtenberg and Moschytz's factorisation with 13-bit
// constants; rows first, with results kept 2 bits larger, then columns, descaled with rounding.
constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

// Fixed-point constants, × 2^13.
constexpr int32_t k0_298631336 = 2446, k0_390180644 = 3196, k0_541196100 = 4433,
                  k0_765366865 = 6270, k0_899976223 = 7373, k1_175875602 = 9633,
                  k1_501321110 = 12299, k1_847759065 = 15137, k1_961570560 = 16069,
                  k2_053119869 = 16819, k2_562915447 = 20995, k3_072711026 = 25172;

// One 1-D pass over the eight values p[0], p[step], … p[7 · step].
template <bool kFirstPass>
void DctPass(int32_t* p, int step) {
    constexpr int kShift = kFirstPass ? kConstBits - kPass1Bits : kConstBits + kPass1Bits;
    constexpr int32_t kHalf = 1 << (kShift - 1);
    const int32_t tmp0 = p[0] + p[7 * step], tmp7 = p[0] - p[7 * step];
    const int32_t tmp1 = p[step] + p[6 * step], tmp6 = p[step] - p[6 * step];
    const int32_t tmp2 = p[2 * step] + p[5 * step], tmp5 = p[2 * step] - p[5 * step];
    const int32_t tmp3 = p[3 * step] + p[4 * step], tmp4 = p[3 * step] - p[4 * step];

    // Even part
    const int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    const int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    if constexpr (kFirstPass) {
        p[0] = (tmp10 + tmp11) * (1 << kPass1Bits);
        p[4 * step] = (tmp10 - tmp11) * (1 << kPass1Bits);
    } else {
        constexpr int32_t kPass1Half = 1 << (kPass1Bits - 1);
        p[0] = (tmp10 + tmp11 + kPass1Half) >> kPass1Bits;
        p[4 * step] = (tmp10 - tmp11 + kPass1Half) >> kPass1Bits;
    }
    const int32_t z1 = (tmp12 + tmp13) * k0_541196100;
    p[2 * step] = (z1 + tmp13 * k0_765366865 + kHalf) >> kShift;
    p[6 * step] = (z1 - tmp12 * k1_847759065 + kHalf) >> kShift;

    // Odd part
    const int32_t z5 = (tmp4 + tmp6 + tmp5 + tmp7) * k1_175875602;
    const int32_t z1o = (tmp4 + tmp7) * -k0_899976223;
    const int32_t z2 = (tmp5 + tmp6) * -k2_562915447;
    const int32_t z3 = (tmp4 + tmp6) * -k1_961570560 + z5;
    const int32_t z4 = (tmp5 + tmp7) * -k0_390180644 + z5;
    p[7 * step] = (tmp4 * k0_298631336 + z1o + z3 + kHalf) >> kShift;
    p[5 * step] = (tmp5 * k2_053119869 + z2 + z4 + kHalf) >> kShift;
    p[3 * step] = (tmp6 * k3_072711026 + z2 + z3 + kHalf) >> kShift;
    p[1 * step] = (tmp7 * k1_501321110 + z1o + z4 + kHalf) >> kShift;
}

int16_t Quantise(int32_t c, const Quantizer& q, int i) {
    const int32_t magnitude = c < 0 ? -c : c;
    const auto quotient =
        static_cast<int32_t>((static_cast<float>(magnitude) + q.offset[i]) * q.scale[i]);
    return static_cast<int16_t>(c < 0 ? -quotient : quotient);
}

void TransformBlocksPortable(const BlockSource* blocks, size_t count,
                             const Quantizer* const* tables, int16_t* out) {
    for (size_t b = 0; b < count; ++b, out += 64) {
        const BlockSource& block = blocks[b];
        int32_t d[64];
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) d[8 * y + x] = block.samples[y * block.stride + x] - 128;
        }
        for (int y = 0; y < 8; ++y) DctPass<true>(d + 8 * y, 1);
        for (int x = 0; x < 8; ++x) DctPass<false>(d + x, 8);
        const Quantizer& quant = *tables[block.table];
        for (int k = 0; k < 64; ++k) out[k] = Quantise(d[kZigzag[k]], quant, kZigzag[k]);
    }
}

constexpr Kernels kPortable = {ConvertYCbCrPortable, ConvertLumaPortable, DownsampleH2V2Portable,
                               DownsampleH2V1Portable, TransformBlocksPortable};

// ---- AVX2 kernels ----------------------------------------------------------------------------

#if KORVO_HAS_AVX2
#define KORVO_AVX2 [[gnu::target("avx2")]]
#define KORVO_AVX2_INLINE [[gnu::always_inline, gnu::target("avx2")]] inline

KORVO_AVX2_INLINE __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
KORVO_AVX2_INLINE __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
KORVO_AVX2_INLINE __m256i Mul(__m256i a, int32_t factor) {
    return _mm256_mullo_epi32(a, _mm256_set1_epi32(factor));
}

// Eight pixels' channels as 32-bit lanes. RGB reads 28 bytes, RGBA 32.
template <int Channels>
KORVO_AVX2_INLINE void LoadChannels(const uint8_t* src, __m256i& r, __m256i& g, __m256i& b) {
    if constexpr (Channels == 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
        const __m256i low = _mm256_set1_epi32(0xFF);
        r = _mm256_and_si256(v, low);
        g = _mm256_and_si256(_mm256_srli_epi32(v, 8), low);
        b = _mm256_and_si256(_mm256_srli_epi32(v, 16), low);
    } else {
        // Pixels 0 to 3 in the low lane and 4 to 7 in the high lane, at the same offsets.
        const __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12)), 1);
        const __m256i pickRed =
            _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1,  //
                             0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
        const __m256i one = _mm256_set1_epi32(1);
        r = _mm256_shuffle_epi8(v, pickRed);
        g = _mm256_shuffle_epi8(v, Add(pickRed, one));
        b = _mm256_shuffle_epi8(v, Add(pickRed, Add(one, one)));
    }
}

// Eight 32-bit lanes as bytes, clamped to 0 … 255 by the saturating packs.
KORVO_AVX2_INLINE void StoreSamples(__m256i v, uint8_t* dst) {
    const __m256i words = _mm256_packus_epi32(v, v);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const __m128i joined =
        _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), joined);
}

// Pixels that whole vectors cover without reading past the row.
int VectorPixels(int width, int channels) {
    const int reads = channels == 4 ? 32 : 28;
    const int bytes = width * channels;
    return bytes < reads ? 0 : ((bytes - reads) / (8 * channels) + 1) * 8;
}

template <int Channels>
KORVO_AVX2_INLINE void ConvertYCbCrVectors(const uint8_t* src, int pixels, uint8_t* y, uint8_t* cb,
                                           uint8_t* cr) {
    const __m256i half = _mm256_set1_epi32(32768);
    const __m256i center = _mm256_set1_epi32(128);
    for (int x = 0; x < pixels; x += 8) {
        __m256i r, g, b;
        LoadChannels<Channels>(src + x * Channels, r, g, b);
        const __m256i luma = Add(Add(Mul(r, 19595), Mul(g, 38470)), Add(Mul(b, 7471), half));
        const __m256i blue =
            Add(Add(Mul(r, -11059), Mul(g, -21709)), Add(_mm256_slli_epi32(b, 15), half));
        const __m256i red =
            Add(Add(_mm256_slli_epi32(r, 15), Mul(g, -27439)), Add(Mul(b, -5329), half));
        StoreSamples(_mm256_srai_epi32(luma, 16), y + x);
        StoreSamples(Add(center, _mm256_srai_epi32(blue, 16)), cb + x);
        StoreSamples(Add(center, _mm256_srai_epi32(red, 16)), cr + x);
    }
}

template <int Channels>
KORVO_AVX2_INLINE void ConvertLumaVectors(const uint8_t* src, int pixels, uint8_t* y) {
    const __m256i half = _mm256_set1_epi32(32768);
    for (int x = 0; x < pixels; x += 8) {
        __m256i r, g, b;
        LoadChannels<Channels>(src + x * Channels, r, g, b);
        const __m256i luma = Add(Add(Mul(r, 19595), Mul(g, 38470)), Add(Mul(b, 7471), half));
        StoreSamples(_mm256_srai_epi32(luma, 16), y + x);
    }
}

KORVO_AVX2 void ConvertYCbCrAvx2(const uint8_t* src, int channels, int width, uint8_t* y,
                                 uint8_t* cb, uint8_t* cr) {
    const int pixels = VectorPixels(width, channels);
    if (channels == 4)
        ConvertYCbCrVectors<4>(src, pixels, y, cb, cr);
    else
        ConvertYCbCrVectors<3>(src, pixels, y, cb, cr);
    ConvertYCbCrFrom(src, channels, pixels, width, y, cb, cr);
}

KORVO_AVX2 void ConvertLumaAvx2(const uint8_t* src, int channels, int width, uint8_t* y) {
    const int pixels = VectorPixels(width, channels);
    if (channels == 4)
        ConvertLumaVectors<4>(src, pixels, y);
    else
        ConvertLumaVectors<3>(src, pixels, y);
    ConvertLumaFrom(src, channels, pixels, width, y);
}

// Sixteen averages from 16-bit sums: shifted, narrowed and stored in order.
KORVO_AVX2_INLINE void StoreAverages(__m256i sums, int shift, uint8_t* out) {
    const __m256i averaged = _mm256_srl_epi16(sums, _mm_cvtsi32_si128(shift));
    const __m256i bytes = _mm256_packus_epi16(averaged, averaged);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0xD8)));
}

KORVO_AVX2 void DownsampleH2V2Avx2(const uint8_t* top, const uint8_t* bottom, int outWidth,
                                   int outRow, uint8_t* out) {
    const __m256i ones = _mm256_set1_epi8(1);
    // Every step starts at an even x, so the bias pattern holds for the whole row.
    const __m256i bias = (outRow & 1) ? _mm256_set1_epi32(2) : _mm256_set1_epi32(2 << 16);
    const int vectors = outWidth / 16 * 16;
    for (int x = 0; x < vectors; x += 16) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + 2 * x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + 2 * x));
        const __m256i sums = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_maddubs_epi16(t, ones), _mm256_maddubs_epi16(b, ones)), bias);
        StoreAverages(sums, 2, out + x);
    }
    DownsampleH2V2From(top, bottom, vectors, outWidth, outRow, out);
}

KORVO_AVX2 void DownsampleH2V1Avx2(const uint8_t* row, int outWidth, uint8_t* out) {
    const __m256i ones = _mm256_set1_epi8(1);
    const int vectors = outWidth / 16 * 16;
    for (int x = 0; x < vectors; x += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * x));
        StoreAverages(_mm256_maddubs_epi16(v, ones), 1, out + x);
    }
    DownsampleH2V1From(row, vectors, outWidth, out);
}

KORVO_AVX2_INLINE void Transpose(__m256i (&m)[8]) {
    __m256i t[8], u[8];
#pragma GCC unroll 4
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(m[i], m[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(m[i], m[i + 1]);
    }
#pragma GCC unroll 2
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        m[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
        m[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
    }
}

template <int kShift>
KORVO_AVX2_INLINE __m256i Descale(__m256i v) {
    return _mm256_srai_epi32(Add(v, _mm256_set1_epi32(1 << (kShift - 1))), kShift);
}

// DctPass on eight lanes at once: d[k] holds value k of eight independent rows.
template <bool kFirstPass>
KORVO_AVX2_INLINE void DctPassVectors(__m256i (&d)[8]) {
    constexpr int kShift = kFirstPass ? kConstBits - kPass1Bits : kConstBits + kPass1Bits;
    const __m256i tmp0 = Add(d[0], d[7]), tmp7 = Sub(d[0], d[7]);
    const __m256i tmp1 = Add(d[1], d[6]), tmp6 = Sub(d[1], d[6]);
    const __m256i tmp2 = Add(d[2], d[5]), tmp5 = Sub(d[2], d[5]);
    const __m256i tmp3 = Add(d[3], d[4]), tmp4 = Sub(d[3], d[4]);

    // Even part
    const __m256i tmp10 = Add(tmp0, tmp3), tmp13 = Sub(tmp0, tmp3);
    const __m256i tmp11 = Add(tmp1, tmp2), tmp12 = Sub(tmp1, tmp2);
    if constexpr (kFirstPass) {
        d[0] = _mm256_slli_epi32(Add(tmp10, tmp11), kPass1Bits);
        d[4] = _mm256_slli_epi32(Sub(tmp10, tmp11), kPass1Bits);
    } else {
        d[0] = Descale<kPass1Bits>(Add(tmp10, tmp11));
        d[4] = Descale<kPass1Bits>(Sub(tmp10, tmp11));
    }
    const __m256i z1 = Mul(Add(tmp12, tmp13), k0_541196100);
    d[2] = Descale<kShift>(Add(z1, Mul(tmp13, k0_765366865)));
    d[6] = Descale<kShift>(Sub(z1, Mul(tmp12, k1_847759065)));

    // Odd part
    const __m256i z5 = Mul(Add(Add(tmp4, tmp6), Add(tmp5, tmp7)), k1_175875602);
    const __m256i z1o = Mul(Add(tmp4, tmp7), -k0_899976223);
    const __m256i z2 = Mul(Add(tmp5, tmp6), -k2_562915447);
    const __m256i z3 = Add(Mul(Add(tmp4, tmp6), -k1_961570560), z5);
    const __m256i z4 = Add(Mul(Add(tmp5, tmp7), -k0_390180644), z5);
    d[7] = Descale<kShift>(Add(Add(Mul(tmp4, k0_298631336), z1o), z3));
    d[5] = Descale<kShift>(Add(Add(Mul(tmp5, k2_053119869), z2), z4));
    d[3] = Descale<kShift>(Add(Add(Mul(tmp6, k3_072711026), z2), z3));
    d[1] = Descale<kShift>(Add(Add(Mul(tmp7, k1_501321110), z1o), z4));
}

// Byte shuffles that put 64 coefficients, held in row-major order by four vectors of sixteen,
// into zigzag order. Shuffles stay within 128-bit lanes, so each source vector also comes with
// its lanes swapped: output vector o takes from source s, swapped or not (w), the bytes of
// mask[o][s][w] (0x80: none); used[o][s][w] tells whether it takes any.
struct ZigzagShuffles {
    alignas(32) int8_t mask[4][4][2][32];
    bool used[4][4][2];
};

constexpr ZigzagShuffles MakeZigzagShuffles() {
    ZigzagShuffles z{};
    for (auto& o : z.mask)
        for (auto& s : o)
            for (auto& w : s)
                for (int8_t& b : w) b = int8_t(0x80);
    for (int k = 0; k < 64; ++k) {
        const int from = kZigzag[k];
        const int o = k / 16, at = k % 16, s = from / 16, within = from % 16;
        const int w = (at / 8 != within / 8) ? 1 : 0;
        z.mask[o][s][w][2 * at] = int8_t(2 * (within % 8));
        z.mask[o][s][w][2 * at + 1] = int8_t(2 * (within % 8) + 1);
        z.used[o][s][w] = true;
    }
    return z;
}

constexpr ZigzagShuffles kZigzagShuffles = MakeZigzagShuffles();

KORVO_AVX2_INLINE void StoreZigzag(const __m256i (&natural)[4], int16_t* out) {
    __m256i swapped[4];
#pragma GCC unroll 4
    for (int s = 0; s < 4; ++s) swapped[s] = _mm256_permute2x128_si256(natural[s], natural[s], 1);
#pragma GCC unroll 4
    for (int o = 0; o < 4; ++o) {
        __m256i v = _mm256_setzero_si256();
#pragma GCC unroll 4
        for (int s = 0; s < 4; ++s) {
#pragma GCC unroll 2
            for (int w = 0; w < 2; ++w) {
                if (!kZigzagShuffles.used[o][s][w]) continue;
                const __m256i mask = _mm256_load_si256(
                    reinterpret_cast<const __m256i*>(kZigzagShuffles.mask[o][s][w]));
                v = _mm256_or_si256(v, _mm256_shuffle_epi8(w ? swapped[s] : natural[s], mask));
            }
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * o), v);
    }
}

KORVO_AVX2 void TransformBlocksAvx2(const BlockSource* blocks, size_t count,
                                    const Quantizer* const* tables, int16_t* out) {
    const __m256i center = _mm256_set1_epi32(128);
    for (size_t b = 0; b < count; ++b, out += 64) {
        const BlockSource& block = blocks[b];
        __m256i d[8];
#pragma GCC unroll 8
        for (int y = 0; y < 8; ++y) {
            const __m128i row = _mm_loadl_epi64(
                reinterpret_cast<const __m128i*>(block.samples + size_t(y) * block.stride));
            d[y] = Sub(_mm256_cvtepu8_epi32(row), center);
        }
        // Rows, then columns: each pass works down the lanes of transposed data.
        Transpose(d);
        DctPassVectors<true>(d);
        Transpose(d);
        DctPassVectors<false>(d);

        const Quantizer& quant = *tables[block.table];
        __m256i natural[4];
#pragma GCC unroll 4
        for (int v = 0; v < 8; v += 2) {
            __m256i q[2];
#pragma GCC unroll 2
            for (int i = 0; i < 2; ++i) {
                const __m256i c = d[v + i];
                const __m256i sign = _mm256_srai_epi32(c, 31);
                __m256 f = _mm256_cvtepi32_ps(_mm256_abs_epi32(c));
                f = _mm256_add_ps(f, _mm256_load_ps(quant.offset + 8 * (v + i)));
                f = _mm256_mul_ps(f, _mm256_load_ps(quant.scale + 8 * (v + i)));
                q[i] = Sub(_mm256_xor_si256(_mm256_cvttps_epi32(f), sign), sign);
            }
            natural[v / 2] = _mm256_permute4x64_epi64(_mm256_packs_epi32(q[0], q[1]), 0xD8);
        }
        StoreZigzag(natural, out);
    }
}

constexpr Kernels kAvx2 = {ConvertYCbCrAvx2, ConvertLumaAvx2, DownsampleH2V2Avx2,
                           DownsampleH2V1Avx2, TransformBlocksAvx2};
#endif

}  // namespace

const Kernels& PortableKernels() { return kPortable; }

const Kernels& FastKernels() {
#if KORVO_HAS_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return kAvx2;
#endif
    return kPortable;
}

}  // namespace Korvo::jpeg
