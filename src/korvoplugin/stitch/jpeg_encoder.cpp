#include "stitch/jpeg_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "stitch/jpeg_kernels.h"
#include "stitch/jpeg_tables.h"

// The entropy coder's inner functions inline into one function per instruction set.
#define KORVO_INLINE [[gnu::always_inline]] inline
#define KORVO_LAMBDA_INLINE __attribute__((always_inline))
#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_AVX2 1
#endif

namespace Korvo {
namespace {

using namespace jpeg;

constexpr int kMaxDimension = 65535;  // the frame header has 16 bits for each side

// ---- Tables ----------------------------------------------------------------------------------

// Per symbol: its code above bit 5, the code's length in bits 0 to 4.
struct HuffmanCodes {
    uint32_t entry[256] = {};
};

// Canonical codes of a table (T.81 Annex C): shortest codes first, counting up.
HuffmanCodes BuildCodes(const HuffmanSpec& table) {
    HuffmanCodes codes;
    uint32_t code = 0;
    int k = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.counts[length - 1]; ++i, ++k) {
            codes.entry[table.symbols[k]] = code++ << 5 | length;
        }
        code <<= 1;
    }
    return codes;
}

// Code lengths fitted to symbol counts, limited to 16 bits (T.81 Annex K.2). A reserved symbol
// with count 1 keeps any code from being all ones.
HuffmanSpec BuildOptimalSpec(const std::array<uint32_t, 256>& counts) {
    std::array<uint64_t, 257> freq{};
    std::copy(counts.begin(), counts.end(), freq.begin());
    freq[256] = 1;
    std::array<int, 257> codeSize{};
    std::array<int, 257> others;
    others.fill(-1);

    for (;;) {
        int v1 = -1, v2 = -1;
        for (int i = 0; i <= 256; ++i) {
            if (freq[i] == 0) continue;
            if (v1 < 0 || freq[i] < freq[v1]) {
                v2 = v1;
                v1 = i;
            } else if (v2 < 0 || freq[i] < freq[v2]) {
                v2 = i;
            }
        }
        if (v2 < 0) break;
        freq[v1] += freq[v2];
        freq[v2] = 0;
        for (++codeSize[v1]; others[v1] >= 0; ++codeSize[v1]) v1 = others[v1];
        others[v1] = v2;
        for (++codeSize[v2]; others[v2] >= 0; ++codeSize[v2]) v2 = others[v2];
    }

    std::array<int, 260> bits{};
    for (int i = 0; i <= 256; ++i) {
        if (codeSize[i] > 0) ++bits[codeSize[i]];
    }
    // Move codes longer than 16 bits up the tree: a pair at length i becomes one at i - 1, and a
    // leaf at a shorter length j becomes a pair at j + 1.
    for (int i = 259; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    int longest = 16;
    while (longest > 0 && bits[longest] == 0) --longest;
    if (longest > 0) bits[longest] -= 1;  // the reserved symbol's code

    HuffmanSpec table{};
    for (int i = 1; i <= 16; ++i) table.counts[i - 1] = static_cast<uint8_t>(bits[i]);
    for (int length = 1; length <= 256 && table.symbolCount < 256; ++length) {
        for (int symbol = 0; symbol < 256; ++symbol) {
            if (codeSize[symbol] == length) {
                table.symbols[table.symbolCount++] = static_cast<uint8_t>(symbol);
            }
        }
    }
    return table;
}

// Quality scaling: factor 5000 ÷ quality below 50, else 200 − 2 × quality, in percent.
std::array<uint8_t, 64> ScaleTable(const uint8_t (&base)[64], int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::array<uint8_t, 64> table;
    for (int i = 0; i < 64; ++i) {
        table[i] = static_cast<uint8_t>(std::clamp((base[i] * scale + 50) / 100, 1, 255));
    }
    return table;
}

Quantizer MakeQuantizer(const std::array<uint8_t, 64>& table) {
    Quantizer quant;
    for (int i = 0; i < 64; ++i) {
        quant.offset[i] = 4.0f * table[i] + 0.5f;
        quant.scale[i] = 1.0f / (8.0f * table[i]);
    }
    return quant;
}

// ---- Frame layout ------------------------------------------------------------------------------

struct Layout {
    int components = 3;
    int mcuWidth = 8;  // pixels
    int mcuHeight = 8;
    int mcusAcross = 0;
    int mcuRows = 0;
    int blocksPerMcu = 1;
    // Per block of an MCU, in coding order: its component.
    std::array<uint8_t, 6> blockComponent{};
    uint8_t lumaSampling = 0x11;  // horizontal × 16 + vertical

    int PaddedWidth() const { return mcusAcross * mcuWidth; }
    size_t CoefficientsPerRow() const { return size_t(mcusAcross) * blocksPerMcu * 64; }
};

Layout MakeLayout(int width, int height, JpegSubsampling subsampling) {
    Layout layout;
    switch (subsampling) {
        case JpegSubsampling::YOnly:
            layout.components = 1;
            layout.blockComponent = {0};
            break;
        case JpegSubsampling::H1V1:
            layout.blocksPerMcu = 3;
            layout.blockComponent = {0, 1, 2};
            break;
        case JpegSubsampling::H2V1:
            layout.mcuWidth = 16;
            layout.blocksPerMcu = 4;
            layout.blockComponent = {0, 0, 1, 2};
            layout.lumaSampling = 0x21;
            break;
        case JpegSubsampling::H2V2:
            layout.mcuWidth = 16;
            layout.mcuHeight = 16;
            layout.blocksPerMcu = 6;
            layout.blockComponent = {0, 0, 0, 0, 1, 2};
            layout.lumaSampling = 0x22;
            break;
    }
    layout.mcusAcross = (width + layout.mcuWidth - 1) / layout.mcuWidth;
    layout.mcuRows = (height + layout.mcuHeight - 1) / layout.mcuHeight;
    return layout;
}

// ---- Stage 1: pixels to quantised coefficients -------------------------------------------------

// Sample planes of one band at full resolution and, for chroma, downsampled; and where each
// block of the band takes its samples from, in coding order.
struct Planes {
    int stride = 0;
    std::vector<uint8_t> y, cb, cr;
    int downStride = 0;
    std::vector<uint8_t> cbDown, crDown;
    std::vector<BlockSource> blocks;

    Planes(const Layout& layout, JpegSubsampling subsampling) {
        stride = layout.PaddedWidth();
        const size_t size = size_t(stride) * layout.mcuHeight;
        y.resize(size);
        const bool colour = layout.components == 3;
        const bool downsampled = colour && subsampling != JpegSubsampling::H1V1;
        if (colour) {
            // Grey input keeps its chroma at the neutral value throughout.
            cb.assign(size, 128);
            cr.assign(size, 128);
        }
        if (downsampled) {
            downStride = stride / 2;
            cbDown.assign(size_t(downStride) * 8, 128);
            crDown.assign(size_t(downStride) * 8, 128);
        }
        blocks.reserve(size_t(layout.mcusAcross) * layout.blocksPerMcu);
        const auto add = [&](const uint8_t* samples, int rowStride, uint32_t table) {
            blocks.push_back({samples, uint32_t(rowStride), table});
        };
        for (int mcu = 0; mcu < layout.mcusAcross; ++mcu) {
            const size_t x = size_t(mcu) * layout.mcuWidth;
            // Luminance blocks left to right, then top to bottom.
            for (int by = 0; by < layout.mcuHeight; by += 8) {
                for (int bx = 0; bx < layout.mcuWidth; bx += 8) {
                    add(y.data() + size_t(by) * stride + x + bx, stride, 0);
                }
            }
            if (downsampled) {
                add(cbDown.data() + size_t(mcu) * 8, downStride, 1);
                add(crDown.data() + size_t(mcu) * 8, downStride, 1);
            } else if (colour) {
                add(cb.data() + x, stride, 1);
                add(cr.data() + x, stride, 1);
            }
        }
    }
};

// What the transform of a band reads besides its pixels.
struct TransformSetup {
    int width;
    int height;
    int channels;
    JpegSubsampling subsampling;
    Layout layout;
    Quantizer quant[2];  // luminance, chrominance
    const Kernels* kernels;
};

void PadRow(uint8_t* row, int width, int stride) {
    std::memset(row + width, row[width - 1], size_t(stride - width));
}

// Fills `out` with the quantised blocks of one band, in coding order.
void TransformBand(const TransformSetup& in, int band, const uint8_t* rows, size_t rowStride,
                   Planes& planes, int16_t* out) {
    const Layout& layout = in.layout;
    const Kernels& kernels = *in.kernels;
    const bool colour = layout.components == 3;
    const int firstRow = band * layout.mcuHeight;
    for (int r = 0; r < layout.mcuHeight; ++r) {
        // Rows below the image repeat its last row.
        const int sourceRow = std::min(firstRow + r, in.height - 1);
        const uint8_t* src = rows + size_t(sourceRow - firstRow) * rowStride;
        const size_t at = size_t(r) * planes.stride;
        uint8_t* y = planes.y.data() + at;
        if (in.channels == 1) {
            std::memcpy(y, src, size_t(in.width));
        } else if (colour) {
            uint8_t* cb = planes.cb.data() + at;
            uint8_t* cr = planes.cr.data() + at;
            kernels.convertYCbCr(src, in.channels, in.width, y, cb, cr);
            PadRow(cb, in.width, planes.stride);
            PadRow(cr, in.width, planes.stride);
        } else {
            kernels.convertLuma(src, in.channels, in.width, y);
        }
        PadRow(y, in.width, planes.stride);
    }
    if (!planes.cbDown.empty() && in.channels != 1) {
        const int outWidth = planes.downStride;
        const std::vector<uint8_t>* full[2] = {&planes.cb, &planes.cr};
        std::vector<uint8_t>* down[2] = {&planes.cbDown, &planes.crDown};
        for (int c = 0; c < 2; ++c) {
            for (int r = 0; r < 8; ++r) {
                uint8_t* outRow = down[c]->data() + size_t(r) * outWidth;
                if (in.subsampling == JpegSubsampling::H2V2) {
                    const uint8_t* top = full[c]->data() + size_t(2 * r) * planes.stride;
                    kernels.downsampleH2V2(top, top + planes.stride, outWidth, r, outRow);
                } else {
                    kernels.downsampleH2V1(full[c]->data() + size_t(r) * planes.stride, outWidth,
                                           outRow);
                }
            }
        }
    }
    const Quantizer* const tables[2] = {&in.quant[0], &in.quant[1]};
    kernels.transformBlocks(planes.blocks.data(), planes.blocks.size(), tables, out);
}

// ---- Stage 2: entropy coding ---------------------------------------------------------------

constexpr size_t kOutputBlock = 2048;
// Room past a full block for what one coded block can add (64 symbols of at most 27 bits, each
// byte possibly doubled by stuffing).
constexpr size_t kOutputSlack = 1024;

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

// The coder's bit accumulator, kept in registers while a row is coded: the top `filled` bits of
// `acc` are pending, the rest are 0. After every code the whole bytes go to `out`.
struct BitSink {
    uint64_t acc;
    int filled;
    uint8_t* out;
};

KORVO_INLINE void StoreByte(uint8_t byte, uint8_t*& out) {
    *out++ = byte;
    if (byte == 0xFF) *out++ = 0;
}

// `bits` holds exactly `count` (up to 27) bits; at most 7 bits are pending before.
KORVO_INLINE void PutBits(BitSink& sink, uint32_t bits, int count) {
    sink.acc |= uint64_t{bits} << (64 - sink.filled - count);
    sink.filled += count;
    const int bytes = sink.filled >> 3;
    // Whole bytes leave in one unaligned store unless one of them is 0xFF and needs its 0x00.
    if (((~sink.acc - 0x0101010101010101ull) & sink.acc & 0x8080808080808080ull) == 0) {
        const uint64_t bigEndian = __builtin_bswap64(sink.acc);
        std::memcpy(sink.out, &bigEndian, 8);
        sink.out += bytes;
    } else {
        for (int i = 0; i < bytes; ++i)
            StoreByte(static_cast<uint8_t>(sink.acc >> (56 - 8 * i)), sink.out);
    }
    sink.acc <<= 8 * bytes;
    sink.filled &= 7;
}

KORVO_INLINE void PutCode(BitSink& sink, uint32_t entry, const Magnitude& m) {
    PutBits(sink, (entry >> 5) << m.size | m.bits, int(entry & 31) + m.size);
}

struct ComponentCodes {
    const HuffmanCodes* dc;
    const HuffmanCodes* ac;
};

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

// Writes the entropy-coded segment through the stream in blocks of kOutputBlock bytes, with a
// 0x00 after every 0xFF.
class EntropyWriter {
  public:
    explicit EntropyWriter(jpge::output_stream& stream) : stream_(stream) {}

    bool ok() const { return ok_; }

    void WriteRaw(const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t step = std::min(size, kOutputBlock + kOutputSlack - used_);
            std::memcpy(buffer_ + used_, data, step);
            used_ += step;
            data += step;
            size -= step;
            Drain();
        }
    }

    // The bit state for coding; hand it back with Resume before anything else is called.
    BitSink Suspend() { return {acc_, filled_, buffer_ + used_}; }
    void Resume(const BitSink& sink) {
        acc_ = sink.acc;
        filled_ = sink.filled;
        used_ = size_t(sink.out - buffer_);
    }
    // Room for one more coded block without handing out bytes.
    bool HasRoom(const BitSink& sink) const { return sink.out < buffer_ + kOutputBlock; }

    // Hands out every whole block.
    void Drain() {
        while (used_ >= kOutputBlock) {
            if (ok_) ok_ = stream_.put_bytes(buffer_, kOutputBlock);
            used_ -= kOutputBlock;
            std::memmove(buffer_, buffer_ + kOutputBlock, used_);
        }
    }

    // Ends the coded data: pads its last byte with 1 bits.
    void PadToByte() {
        BitSink sink = Suspend();
        const int pad = (8 - sink.filled) % 8;
        if (pad != 0) PutBits(sink, (1u << pad) - 1, pad);
        Resume(sink);
        Drain();
    }

    // Hands out what is left; true when the stream took every block.
    bool Flush() {
        Drain();
        if (ok_ && used_ > 0) ok_ = stream_.put_bytes(buffer_, used_);
        used_ = 0;
        return ok_;
    }

  private:
    jpge::output_stream& stream_;
    uint8_t buffer_[kOutputBlock + kOutputSlack];
    size_t used_ = 0;
    uint64_t acc_ = 0;
    int filled_ = 0;
    bool ok_ = true;
};

// What coding one MCU row needs besides its blocks.
struct RowCoding {
    const Layout* layout;
    const ComponentCodes* codes;  // per component
    int* lastDc;                  // per component, carried from row to row
};

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

using EncodeFunction = void (*)(const int16_t*, const RowCoding&, EntropyWriter&);

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

EncodeFunction PickEncode() {
#if KORVO_HAS_AVX2
    // Every processor with BMI2 has LZCNT as well.
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) return EncodeMcuRowAvx2;
#endif
    return EncodeMcuRowBaseline;
}

// Symbol counts for fitted tables, gathered the way EncodeBlock would code the block.
struct SymbolCounts {
    std::array<uint32_t, 256> dc{};
    std::array<uint32_t, 256> ac{};
};

void CountBlock(const int16_t* zigzag, int& lastDc, SymbolCounts& counts) {
    ForEachSymbol(
        zigzag, lastDc, [&](const Magnitude& m) { ++counts.dc[size_t(m.size)]; },
        [&](int symbol, const Magnitude&) { ++counts.ac[size_t(symbol)]; });
}

// ---- Running the two stages ----------------------------------------------------------------

// Transforms every band and hands each band's blocks, in order, to `consume`, which answers false
// to stop. With a second core the transform runs up to kSlots bands ahead, on its own thread.
template <typename Transform, typename Consume>
void RunBands(int bands, size_t bandCoefficients, Transform&& transform, Consume&& consume) {
    constexpr int kSlots = 4;
    if (bands < 4 || std::thread::hardware_concurrency() < 2) {
        std::vector<int16_t> blocks(bandCoefficients);
        for (int band = 0; band < bands; ++band) {
            transform(band, blocks.data());
            if (!consume(blocks.data())) return;
        }
        return;
    }
    std::vector<int16_t> slots(bandCoefficients * kSlots);
    const auto slot = [&](int band) { return slots.data() + (band % kSlots) * bandCoefficients; };
    std::mutex mutex;
    std::condition_variable changed;
    int produced = 0, consumed = 0;
    bool stop = false;
    std::jthread worker([&] {
        for (int band = 0; band < bands; ++band) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || band - consumed < kSlots; });
                if (stop) return;
            }
            transform(band, slot(band));
            {
                std::lock_guard lock(mutex);
                produced = band + 1;
            }
            changed.notify_all();
        }
    });
    for (int band = 0; band < bands; ++band) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return produced > band; });
        }
        const bool more = consume(slot(band));
        {
            std::lock_guard lock(mutex);
            consumed = band + 1;
            stop = !more;
        }
        changed.notify_all();
        if (!more) return;
    }
}

// ---- Headers -------------------------------------------------------------------------------

class HeaderWriter {
  public:
    void Marker(uint8_t code) { bytes_.insert(bytes_.end(), {0xFF, code}); }
    void Byte(int value) { bytes_.push_back(static_cast<uint8_t>(value)); }
    void Word(int value) {
        Byte(value >> 8);
        Byte(value);
    }
    void Bytes(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    void HuffmanTable(int tableClass, int id, const HuffmanSpec& table) {
        Marker(0xC4);
        Word(2 + 1 + 16 + table.symbolCount);
        Byte(tableClass << 4 | id);
        Bytes(table.counts, 16);
        Bytes(table.symbols, size_t(table.symbolCount));
    }

  private:
    std::vector<uint8_t> bytes_;
};

struct Tables {
    std::array<uint8_t, 64> quant[2];  // row-major
    HuffmanSpec dc[2], ac[2];          // luminance, chrominance
};

std::vector<uint8_t> MakeHeaders(int width, int height, const Layout& layout,
                                 const Tables& tables) {
    HeaderWriter h;
    h.Marker(0xD8);  // SOI

    h.Marker(0xE0);  // APP0: JFIF 1.1, no density unit, 1 × 1, no thumbnail
    h.Word(16);
    h.Bytes(reinterpret_cast<const uint8_t*>("JFIF"), 5);
    h.Byte(1);
    h.Byte(1);
    h.Byte(0);
    h.Word(1);
    h.Word(1);
    h.Byte(0);
    h.Byte(0);

    const int tableCount = layout.components == 1 ? 1 : 2;
    for (int t = 0; t < tableCount; ++t) {
        h.Marker(0xDB);  // DQT
        h.Word(67);
        h.Byte(t);
        for (int k = 0; k < 64; ++k) h.Byte(tables.quant[t][kZigzag[k]]);
    }

    h.Marker(0xC0);  // SOF0
    h.Word(8 + 3 * layout.components);
    h.Byte(8);
    h.Word(height);
    h.Word(width);
    h.Byte(layout.components);
    for (int c = 0; c < layout.components; ++c) {
        h.Byte(c + 1);
        h.Byte(c == 0 ? layout.lumaSampling : 0x11);
        h.Byte(c == 0 ? 0 : 1);
    }

    for (int t = 0; t < tableCount; ++t) {
        h.HuffmanTable(0, t, tables.dc[t]);
        h.HuffmanTable(1, t, tables.ac[t]);
    }

    h.Marker(0xDA);  // SOS
    h.Word(6 + 2 * layout.components);
    h.Byte(layout.components);
    for (int c = 0; c < layout.components; ++c) {
        h.Byte(c + 1);
        h.Byte(c == 0 ? 0x00 : 0x11);
    }
    h.Byte(0);
    h.Byte(63);
    h.Byte(0);
    return h.bytes();
}

bool ParamsAccepted(int width, int height, int channels, const JpegParams& params) {
    const auto subsampling = static_cast<int32_t>(params.subsampling);
    return width >= 1 && height >= 1 && width <= kMaxDimension && height <= kMaxDimension &&
           (channels == 1 || channels == 3 || channels == 4) && params.quality >= 1 &&
           params.quality <= 100 && subsampling >= 0 && subsampling <= 3;
}

}  // namespace

// ---- Band encoder ----------------------------------------------------------------------------

struct JpegBandEncoder::State {
    bool accepted = false;
    TransformSetup setup{};
    Tables tables{};
    HuffmanCodes dcCodes[2], acCodes[2];
    ComponentCodes componentCodes[3]{};
    int lastDc[3] = {};
    SymbolCounts counts[2];
    int countedDc[3] = {};
    EncodeFunction encode = PickEncode();
    std::unique_ptr<EntropyWriter> writer;

    void BuildCodes() {
        for (int t = 0; t < 2; ++t) {
            dcCodes[t] = Korvo::BuildCodes(tables.dc[t]);
            acCodes[t] = Korvo::BuildCodes(tables.ac[t]);
        }
        componentCodes[0] = {&dcCodes[0], &acCodes[0]};
        componentCodes[1] = componentCodes[2] = {&dcCodes[1], &acCodes[1]};
    }
};

struct JpegBandEncoder::Workspace::Planes : Korvo::Planes {
    using Korvo::Planes::Planes;
};

JpegBandEncoder::JpegBandEncoder(jpge::output_stream& stream, int width, int height, int channels,
                                 const JpegParams& params)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (!ParamsAccepted(width, height, channels, params)) return;
    s.accepted = true;
    s.tables.quant[0] = ScaleTable(kLuminanceQuant, params.quality);
    s.tables.quant[1] = params.noChromaDiscrimination
                            ? s.tables.quant[0]
                            : ScaleTable(kChrominanceQuant, params.quality);
    s.tables.dc[0] = kLuminanceDc;
    s.tables.ac[0] = kLuminanceAc;
    s.tables.dc[1] = kChrominanceDc;
    s.tables.ac[1] = kChrominanceAc;
    s.setup = {width,
               height,
               channels,
               params.subsampling,
               MakeLayout(width, height, params.subsampling),
               {MakeQuantizer(s.tables.quant[0]), MakeQuantizer(s.tables.quant[1])},
               &FastKernels()};
    s.BuildCodes();
    s.writer = std::make_unique<EntropyWriter>(stream);
}

JpegBandEncoder::~JpegBandEncoder() = default;

bool JpegBandEncoder::accepted() const { return state_->accepted; }
int JpegBandEncoder::bandRows() const { return state_->setup.layout.mcuHeight; }
int JpegBandEncoder::bandCount() const { return state_->setup.layout.mcuRows; }
size_t JpegBandEncoder::bandCoefficients() const {
    return state_->setup.layout.CoefficientsPerRow();
}

JpegBandEncoder::Workspace::Workspace(const JpegBandEncoder& encoder)
    : planes_(std::make_unique<Planes>(encoder.state_->setup.layout,
                                       encoder.state_->setup.subsampling)) {}
JpegBandEncoder::Workspace::~Workspace() = default;

void JpegBandEncoder::Transform(int band, const uint8_t* rows, size_t stride, Workspace& workspace,
                                int16_t* coefficients) const {
    TransformBand(state_->setup, band, rows, stride, *workspace.planes_, coefficients);
}

void JpegBandEncoder::CountSymbols(const int16_t* coefficients) {
    State& s = *state_;
    const Layout& layout = s.setup.layout;
    const size_t blocks = size_t(layout.mcusAcross) * layout.blocksPerMcu;
    for (size_t b = 0; b < blocks; ++b) {
        const int component = layout.blockComponent[b % layout.blocksPerMcu];
        CountBlock(coefficients + 64 * b, s.countedDc[component], s.counts[component != 0]);
    }
}

void JpegBandEncoder::FitTables() {
    State& s = *state_;
    for (int t = 0; t < (s.setup.layout.components == 1 ? 1 : 2); ++t) {
        s.tables.dc[t] = BuildOptimalSpec(s.counts[t].dc);
        s.tables.ac[t] = BuildOptimalSpec(s.counts[t].ac);
    }
    s.BuildCodes();
}

bool JpegBandEncoder::WriteHeaders() {
    State& s = *state_;
    const std::vector<uint8_t> headers =
        MakeHeaders(s.setup.width, s.setup.height, s.setup.layout, s.tables);
    s.writer->WriteRaw(headers.data(), headers.size());
    return s.writer->ok();
}

bool JpegBandEncoder::Encode(const int16_t* coefficients) {
    State& s = *state_;
    const RowCoding coding{&s.setup.layout, s.componentCodes, s.lastDc};
    s.encode(coefficients, coding, *s.writer);
    return s.writer->ok();
}

bool JpegBandEncoder::Finish() {
    EntropyWriter& writer = *state_->writer;
    writer.PadToByte();
    const uint8_t eoi[2] = {0xFF, 0xD9};
    writer.WriteRaw(eoi, sizeof eoi);
    return writer.Flush();
}

// ---- One-call encoding -------------------------------------------------------------------------

bool EncodeJpeg(jpge::output_stream& stream, int width, int height, int channels,
                const uint8_t* pixels, const JpegParams& params) {
    if (pixels == nullptr) return false;
    try {
        JpegBandEncoder encoder(stream, width, height, channels, params);
        if (!encoder.accepted()) return false;
        const size_t stride = size_t(width) * channels;
        JpegBandEncoder::Workspace workspace(encoder);
        const auto transform = [&](int band, int16_t* out) {
            encoder.Transform(band, pixels + size_t(band) * encoder.bandRows() * stride, stride,
                              workspace, out);
        };
        if (params.twoPass) {
            RunBands(encoder.bandCount(), encoder.bandCoefficients(), transform,
                     [&](const int16_t* blocks) {
                         encoder.CountSymbols(blocks);
                         return true;
                     });
            encoder.FitTables();
        }
        bool ok = encoder.WriteHeaders();
        RunBands(encoder.bandCount(), encoder.bandCoefficients(), transform,
                 [&](const int16_t* blocks) { return ok = ok && encoder.Encode(blocks); });
        return encoder.Finish() && ok;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::system_error&) {
        return false;  // no thread to be had
    }
}

bool WriteJpegFile(const char* fileName, int width, int height, int channels, const uint8_t* pixels,
                   const JpegParams& params) {
    jpge::cfile_stream stream;
    if (!stream.open(fileName)) return false;
    const bool encoded = EncodeJpeg(stream, width, height, channels, pixels, params);
    const bool closed = stream.close();
    return encoded && closed;
}

}  // namespace Korvo
