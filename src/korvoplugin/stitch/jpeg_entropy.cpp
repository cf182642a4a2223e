#include "stitch/jpeg_entropy.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The entropy coder's inner functions inline into one function per instruction set.
#define KORVO_INLINE [[gnu::always_inline]] inline
#define KORVO_LAMBDA_INLINE __attribute__((always_inline))
#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_AVX2 1
#endif

namespace Korvo::jpeg {
namespace {

// Bit 0..63 set where the zigzag-ordered block has a non-zero coefficient.
KORVO_INLINE uint64_t NonZeroMask(const int16_t* zigzag) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 16 * i + 8));
        // Saturating narrowing keeps every non-zero value non-zero.
        const __m128i bytes = _mm_packs_epi16(a, b);
        const auto zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
        mask |= uint64_t(~zeros & 0xFFFFu) << (16 * i);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= uint64_t(zigzag[k] != 0) << k;
    return mask;
#endif
}

// Magnitude category of a value (its bit length) and its extra bits as T.81 codes them:
// negative values as value − 1 in the low bits.
struct Magnitude {
    int size;
    uint32_t bits;
};

KORVO_INLINE Magnitude MagnitudeOf(int value) {
    const int sign = value >> 31;
    const auto magnitude = static_cast<uint32_t>((value ^ sign) - sign);
    const int size = std::bit_width(magnitude);
    return {size, static_cast<uint32_t>(value + sign) & ((1u << size) - 1)};
}

KORVO_INLINE void StoreByte(uint8_t byte, uint8_t*& out) {
    *out++ = byte;
    if (byte == 0xFF) *out++ = 0;
}

// Eight bytes, the first in the top bits. They leave in one unaligned store unless one of them
// is 0xFF and needs its 0x00.
KORVO_INLINE void StoreWord(uint64_t word, uint8_t*& out) {
    if (((~word - 0x0101010101010101ull) & word & 0x8080808080808080ull) == 0) {
        const uint64_t bigEndian = __builtin_bswap64(word);
        std::memcpy(out, &bigEndian, 8);
        out += 8;
    } else {
        for (int shift = 56; shift >= 0; shift -= 8)
            StoreByte(static_cast<uint8_t>(word >> shift), out);
    }
}

// `bits` holds exactly `count` (up to 27) bits.
KORVO_INLINE void PutBits(BitSink& sink, uint32_t bits, int count) {
    if (count < sink.free) {
        sink.acc = sink.acc << count | bits;
        sink.free -= count;
        return;
    }
    // The word fills up: its last bits are the top of `bits`, the rest stays pending.
    const int rest = count - sink.free;
    StoreWord(sink.acc << sink.free | uint64_t{bits} >> rest, sink.out);
    sink.acc = bits;
    sink.free = 64 - rest;
}

KORVO_INLINE void PutCode(BitSink& sink, uint32_t entry, const Magnitude& m) {
    PutBits(sink, (entry >> 5) << m.size | m.bits, int(entry & 31) + m.size);
}

// Walks a block's symbols in coding order: `dc(m)` for the DC difference, then `ac(symbol, m)`
// for every AC symbol (run × 16 + size, 0xF0 for a run of sixteen zeros, 0x00 to end the block).
template <typename Dc, typename Ac>
KORVO_INLINE void ForEachSymbol(const int16_t* zigzag, int& lastDc, Dc&& dc, Ac&& ac) {
    dc(MagnitudeOf(zigzag[0] - lastDc));
    lastDc = zigzag[0];
    uint64_t mask = NonZeroMask(zigzag) & ~uint64_t{1};
    int last = 0;
    while (mask != 0) {
        const int k = std::countr_zero(mask);
        mask &= mask - 1;
        int run = k - last - 1;
        last = k;
        for (; run >= 16; run -= 16) ac(0xF0, Magnitude{0, 0});
        const Magnitude m = MagnitudeOf(zigzag[k]);
        ac(run << 4 | m.size, m);
    }
    if (last != 63) ac(0x00, Magnitude{0, 0});
}

KORVO_INLINE void EncodeBlock(const int16_t* zigzag, int& lastDc, const ComponentCodes& codes,
                              BitSink& sink) {
    const uint32_t* dcCodes = codes.dc->entry;
    const uint32_t* acCodes = codes.ac->entry;
    ForEachSymbol(
        zigzag, lastDc,
        [&](const Magnitude& m) KORVO_LAMBDA_INLINE { PutCode(sink, dcCodes[m.size], m); },
        [&](int symbol, const Magnitude& m)
            KORVO_LAMBDA_INLINE { PutCode(sink, acCodes[symbol], m); });
}

KORVO_INLINE void EncodeMcuRowGeneric(const int16_t* blocks, const RowCoding& coding,
                                      EntropyWriter& writer) {
    const Layout& layout = *coding.layout;
    const size_t count = size_t(layout.mcusAcross) * layout.blocksPerMcu;
    BitSink sink = writer.Suspend();
    for (size_t b = 0, inMcu = 0; b < count; ++b) {
        const int component = layout.blockComponent[inMcu];
        inMcu = inMcu + 1 == size_t(layout.blocksPerMcu) ? 0 : inMcu + 1;
        EncodeBlock(blocks + 64 * b, coding.lastDc[component], coding.codes[component], sink);
        if (!writer.HasRoom(sink)) {
            writer.Resume(sink);
            writer.Drain();
            sink = writer.Suspend();
        }
    }
    writer.Resume(sink);
}

void EncodeMcuRowBaseline(const int16_t* blocks, const RowCoding& coding, EntropyWriter& writer) {
    EncodeMcuRowGeneric(blocks, coding, writer);
}

#if KORVO_HAS_AVX2
[[gnu::target("avx2,bmi,bmi2,lzcnt")]] void EncodeMcuRowAvx2(const int16_t* blocks,
                                                             const RowCoding& coding,
                                                             EntropyWriter& writer) {
    EncodeMcuRowGeneric(blocks, coding, writer);
}
#endif

}  // namespace

void EntropyWriter::PadToByte() {
    BitSink sink = Suspend();
    const int pad = sink.free % 8;
    if (pad != 0) PutBits(sink, (1u << pad) - 1, pad);
    for (int shift = 56 - sink.free; shift >= 0; shift -= 8) {
        StoreByte(static_cast<uint8_t>(sink.acc >> shift), sink.out);
    }
    sink.acc = 0;
    sink.free = 64;
    Resume(sink);
    Drain();
}

EncodeFunction PickEncode() {
#if KORVO_HAS_AVX2
    // Every processor with BMI2 has LZCNT as well.
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) return EncodeMcuRowAvx2;
#endif
    return EncodeMcuRowBaseline;
}

void CountBlock(const int16_t* zigzag, int& lastDc, SymbolCounts& counts) {
    ForEachSymbol(
        zigzag, lastDc, [&](const Magnitude& m) { ++counts.dc[size_t(m.size)]; },
        [&](int symbol, const Magnitude&) { ++counts.ac[size_t(symbol)]; });
}

}  // namespace Korvo::jpeg
