#include "stitch/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "stitch/png_format.h"

namespace Korvo {
namespace {

using png::LoadBe32;

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
    uint64_t product;
    if (__builtin_mul_overflow(a, b, &product)) return std::numeric_limits<uint64_t>::max();
    return product;
}

uint32_t Channels(uint8_t colorType) {
    switch (colorType) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

PngError CheckBitDepth(uint8_t colorType, uint8_t bitDepth) {
    switch (colorType) {
        case 0:
            return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 ||
                           bitDepth == 16
                       ? PngError::None
                       : PngError::BitDepth;
        case 2:
        case 4:
        case 6:
            return bitDepth == 8 || bitDepth == 16 ? PngError::None : PngError::BitDepth;
        default:
            return PngError::ColorType;
    }
}

// A chunk whose framing fits in `left` bytes and whose CRC matches; null type otherwise.
struct Chunk {
    const uint8_t* type = nullptr;
    const uint8_t* data = nullptr;
    uint64_t length = 0;
};

Chunk ReadChunk(const uint8_t* at, uint64_t left) {
    if (left < png::kChunkOverhead) return {};
    // 64-bit sum: a length near 2^32 must not wrap around to a small one.
    const uint64_t length = LoadBe32(at);
    if (length + png::kChunkOverhead > left) return {};
    if (png::ChunkCrc(at + 4, length) != LoadBe32(at + 8 + length)) return {};
    return {at + 4, at + 8, length};
}

// ---- Unfiltering ---------------------------------------------------------------------------
//
// a is the byte bpp to the left, b the byte above, c the byte above-left; all are 0 where the
// position has none. The first row has no row above, so its Up is None, its Average halves a and
// its Paeth predicts a.

template <int Bpp>
void UnfilterSub(uint8_t* row, size_t n) {
    for (size_t i = Bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
}

void UnfilterUp(uint8_t* row, const uint8_t* up, size_t n) {
    for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + up[i]);
}

template <int Bpp>
void UnfilterAverage(uint8_t* row, const uint8_t* up, size_t n) {
    const size_t head = std::min<size_t>(Bpp, n);
    if (up == nullptr) {
        for (size_t i = Bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + (row[i - Bpp] >> 1));
        return;
    }
    for (size_t i = 0; i < head; ++i) row[i] = static_cast<uint8_t>(row[i] + (up[i] >> 1));
    for (size_t i = Bpp; i < n; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + ((row[i - Bpp] + up[i]) >> 1));
    }
}

inline int PaethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c);  // |p - a| with p = a + b - c
    const int pb = std::abs(a - c);  // |p - b|
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

template <int Bpp>
void UnfilterPaeth(uint8_t* row, const uint8_t* up, size_t n) {
    if (up == nullptr) return UnfilterSub<Bpp>(row, n);
    const size_t head = std::min<size_t>(Bpp, n);
    for (size_t i = 0; i < head; ++i) row[i] = static_cast<uint8_t>(row[i] + up[i]);
    for (size_t i = Bpp; i < n; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(row[i - Bpp], up[i], up[i - Bpp]));
    }
}

template <int Bpp>
void UnfilterSamples(uint8_t filter, uint8_t* row, const uint8_t* up, size_t n) {
    switch (filter) {
        case 1: return UnfilterSub<Bpp>(row, n);
        case 2: return up ? UnfilterUp(row, up, n) : void();
        case 3: return UnfilterAverage<Bpp>(row, up, n);
        case 4: return UnfilterPaeth<Bpp>(row, up, n);
        default: return;
    }
}

// Unfilters one row in place: `row` and `up` (null for the first row) start at their filter
// bytes, `bytes` counts the filter byte too. False for an unknown filter type.
bool UnfilterRow(uint8_t* row, const uint8_t* up, size_t bytes, uint32_t bpp) {
    const uint8_t filter = row[0];
    if (filter > 4) return false;
    // A row above that kept its filter byte was never unfiltered; Up and Average would build on
    // filtered bytes, so their row stays as it is.
    if (up != nullptr && up[0] != 0 && (filter == 2 || filter == 3)) return true;
    uint8_t* samples = row + 1;
    const uint8_t* above = up ? up + 1 : nullptr;
    const size_t n = bytes - 1;
    switch (bpp) {
        case 1: UnfilterSamples<1>(filter, samples, above, n); break;
        case 2: UnfilterSamples<2>(filter, samples, above, n); break;
        case 3: UnfilterSamples<3>(filter, samples, above, n); break;
        case 4: UnfilterSamples<4>(filter, samples, above, n); break;
        case 6: UnfilterSamples<6>(filter, samples, above, n); break;
        default: UnfilterSamples<8>(filter, samples, above, n); break;
    }
    row[0] = 0;
    return true;
}

// ---- Inflation -----------------------------------------------------------------------------

class Inflater {
public:
    Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }
    ~Inflater() {
        if (ready_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ready() const { return ready_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool ready_ = false;
};

// Deflate expands at most 1032:1 (a 258-byte match per two bits); nothing valid is larger.
constexpr uint64_t kMaxInflateRatio = 1032;
// Output is produced in steps this large so that the new rows are unfiltered while in cache.
constexpr size_t kInflateStep = 256 * 1024;

// First size of the scanline buffer: large enough for a typical PNG's compression ratio, so that
// an ordinary file needs one allocation, and never more than the image can hold.
uint64_t FirstBufferSize(uint64_t compressed, uint64_t limit) {
    uint64_t size = std::max<uint64_t>(16384, SaturatingMul(compressed, 4));
    return std::min(size, limit);
}

// Walks through the inflated bytes as they arrive and unfilters every row that is complete.
class RowUnfilterer {
public:
    RowUnfilterer(PngImage& image, const PngRowSink& onRow)
        : image_(image),
          onRow_(onRow),
          stride_(PngRowStride(image)),
          bpp_(PngPixelBytes(image)) {}

    // `bytes` inflated so far, of which complete rows are unfiltered.
    void Advance(uint64_t bytes) {
        while (stride_ != 0 && next_ * stride_ + stride_ <= bytes) {
            Finish(next_ * stride_, static_cast<size_t>(stride_));
            ++next_;
        }
    }

    // The data ended: a last row cut short is unfiltered as far as it goes.
    void Complete(uint64_t bytes) {
        Advance(bytes);
        const uint64_t start = next_ * stride_;
        if (bytes > start) Finish(start, static_cast<size_t>(bytes - start));
    }

    bool unknownFilter() const { return unknownFilter_; }

private:
    void Finish(uint64_t start, size_t length) {
        uint8_t* row = image_.scanlines.data() + start;
        const uint8_t* up = next_ == 0 ? nullptr : row - stride_;
        if (!UnfilterRow(row, up, length, bpp_)) unknownFilter_ = true;
        if (onRow_) onRow_(static_cast<uint32_t>(next_), {row, length});
    }

    PngImage& image_;
    const PngRowSink& onRow_;
    uint64_t stride_;
    uint32_t bpp_;
    uint64_t next_ = 0;
    bool unknownFilter_ = false;
};

enum class InflateOutcome { Complete, Damaged, OutOfMemory };

// Inflates the gathered zlib stream into image.scanlines, never past what the header allows.
InflateOutcome InflateImageData(const PngChunkWalk& walk, PngImage& image,
                                RowUnfilterer& rows) {
    std::vector<uint8_t>& out = image.scanlines;
    out.clear();
    if (walk.imageDataBytes == 0) return InflateOutcome::Damaged;

    // Height rows of one filter byte plus the row bytes: data past that is not part of the
    // image, and a stream that claims more cannot make us allocate more.
    const uint64_t limit =
        std::min({SaturatingMul(image.height, PngRowStride(image)),
                  SaturatingMul(walk.imageDataBytes, kMaxInflateRatio) + 1024,
                  uint64_t{out.max_size()}});
    if (limit == 0) return InflateOutcome::Damaged;

    Inflater inflater;
    if (!inflater.ready()) return InflateOutcome::OutOfMemory;
    z_stream& z = inflater.stream();

    uint64_t produced = 0;
    size_t chunk = 0;
    try {
        const auto first = static_cast<size_t>(FirstBufferSize(walk.imageDataBytes, limit));
        if (out.capacity() < first) out.reserve(first);
        out.resize(first);
        for (;;) {
            if (z.avail_in == 0) {
                // Out of chunks before the stream's end: the data was cut short.
                if (chunk == walk.imageData.size()) return InflateOutcome::Damaged;
                const std::span<const uint8_t> data = walk.imageData[chunk++];
                z.next_in = const_cast<Bytef*>(data.data());
                z.avail_in = static_cast<uInt>(data.size());  // chunk lengths fit 32 bits
                continue;
            }
            if (produced == out.size() && out.size() < limit) {
                // reserve first: resize alone may double the capacity past the limit.
                const auto grown = static_cast<size_t>(std::min<uint64_t>(limit, out.size() * 2));
                out.reserve(grown);
                out.resize(grown);
            }
            const size_t room = out.size() - static_cast<size_t>(produced);
            z.next_out = out.data() + produced;
            z.avail_out = static_cast<uInt>(std::min(room, kInflateStep));
            const uInt before = z.avail_out;
            const int status = inflate(&z, Z_NO_FLUSH);
            produced += before - z.avail_out;
            rows.Advance(produced);
            if (status == Z_STREAM_END) break;
            if (status != Z_OK && status != Z_BUF_ERROR) return InflateOutcome::Damaged;
            if (z.avail_in != 0 && z.avail_out == 0 && produced == limit) {
                // zlib stops with input left only when it has more bytes to write: the stream
                // holds more than the header allows. The image's rows are all here; keep them.
                break;
            }
            if (status == Z_BUF_ERROR && z.avail_in != 0 && z.avail_out != 0) {
                return InflateOutcome::Damaged;
            }
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return InflateOutcome::OutOfMemory;
    }
    out.resize(static_cast<size_t>(produced));
    rows.Complete(produced);
    return InflateOutcome::Complete;
}

}  // namespace

uint64_t PngRowBytes(const PngImage& image) {
    const uint64_t bits = uint64_t{image.bitDepth} * Channels(image.colorType);
    return (SaturatingMul(image.width, bits) + 7) / 8;
}

uint32_t PngPixelBytes(const PngImage& image) {
    const uint32_t bytes = image.bitDepth * Channels(image.colorType) / 8;
    return std::max(bytes, 1u);
}

PngChunkWalk WalkPngChunks(std::span<const uint8_t> file, PngImage& image) {
    PngChunkWalk walk;
    if (file.size() < sizeof png::kSignature ||
        std::memcmp(file.data(), png::kSignature, sizeof png::kSignature) != 0) {
        walk.error = PngError::Signature;
        return walk;
    }
    const uint8_t* at = file.data() + sizeof png::kSignature;
    uint64_t left = file.size() - sizeof png::kSignature;

    const Chunk header = ReadChunk(at, left);
    // The header fields stand at fixed places: a header of any other length is damaged.
    if (header.type == nullptr || !png::IsType(header.type, "IHDR") ||
        header.length != png::kHeaderDataBytes) {
        walk.error = PngError::Header;
        return walk;
    }
    image.width = LoadBe32(header.data);
    image.height = LoadBe32(header.data + 4);
    image.bitDepth = header.data[8];
    image.colorType = header.data[9];
    if (header.data[10] != 0) walk.error = PngError::CompressionMethod;
    else if (header.data[11] != 0) walk.error = PngError::FilterMethod;
    else if (header.data[12] != 0) walk.error = PngError::Interlaced;
    else walk.error = CheckBitDepth(image.colorType, image.bitDepth);
    if (walk.error != PngError::None) return walk;

    at += png::kChunkOverhead + header.length;
    left -= png::kChunkOverhead + header.length;
    walk.imageData.reserve(std::min<uint64_t>(left / (png::kChunkOverhead + 1) + 1, 4096));
    while (left > 0) {
        const Chunk chunk = ReadChunk(at, left);
        if (chunk.type == nullptr) {
            walk.error = PngError::Chunk;
            break;
        }
        if (png::IsType(chunk.type, "IEND")) break;
        if (png::IsType(chunk.type, "IDAT")) {
            walk.imageData.emplace_back(chunk.data, static_cast<size_t>(chunk.length));
            walk.imageDataBytes += chunk.length;
        } else if (png::IsType(chunk.type, "gAMA") && chunk.length >= 4) {
            image.gamma = LoadBe32(chunk.data);
        } else if (png::IsType(chunk.type, "sRGB") && chunk.length >= 1) {
            image.renderingIntent = chunk.data[0];
        }
        at += png::kChunkOverhead + chunk.length;
        left -= png::kChunkOverhead + chunk.length;
    }
    return walk;
}

bool DecodePngInto(std::span<const uint8_t> file, PngImage& image, const PngRowSink& onRow) {
    std::vector<uint8_t> reuse = std::move(image.scanlines);
    image = PngImage{};
    image.scanlines = std::move(reuse);
    image.scanlines.clear();
    if (file.empty()) return true;

    PngChunkWalk walk;
    try {
        walk = WalkPngChunks(file, image);
    } catch (const std::bad_alloc&) {
        image.error = PngError::ImageData;
        return false;
    }
    image.error = walk.error;
    RowUnfilterer rows(image, onRow);
    const InflateOutcome outcome = InflateImageData(walk, image, rows);
    if (outcome != InflateOutcome::Complete || image.scanlines.empty()) {
        image.scanlines.clear();
        image.error = PngError::ImageData;
        return outcome != InflateOutcome::OutOfMemory;
    }
    if (rows.unknownFilter()) image.error = PngError::FilterType;
    return true;
}

PngImage DecodePng(std::span<const uint8_t> file) {
    PngImage image;
    DecodePngInto(file, image, {});
    return image;
}

PngImage ReadPngFile(const char* path) {
    try {
        const base::mdata file = base::ReadWholeFile(path);
        return DecodePng(file.bytes());
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace Korvo
