#include "stitch/png_reader.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "stitch/checksums.h"
#include "stitch/page_memory.h"
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
        case 2:
            return 3;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 1;
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

// ---- Unfiltering ---------------------------------------------------------------------------
//
// a is the byte bpp to the left, b the byte above, c the byte above-left; all are 0 where the
// position has none. The first row has no row above, so its Up is None, its Average halves a and
// its Paeth predicts a.

// Sub, Average and Paeth carry each byte into the next pixel. The pixel to the left stays in
// registers (`left`) rather than being read back from the row just written, which would put a
// store-to-load round trip on the carried chain.

template <int Bpp>
void UnfilterSub(uint8_t* row, size_t n) {
    if (n < Bpp) return;
    uint8_t left[Bpp];
    for (int c = 0; c < Bpp; ++c) left[c] = row[c];
    size_t i = Bpp;
    for (; i + Bpp <= n; i += Bpp) {
#pragma GCC unroll 8
        for (int c = 0; c < Bpp; ++c)
            row[i + c] = left[c] = static_cast<uint8_t>(row[i + c] + left[c]);
    }
    for (int c = 0; i + c < n; ++c) row[i + c] = static_cast<uint8_t>(row[i + c] + left[c]);
}

void UnfilterUp(uint8_t* row, const uint8_t* up, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    // Nothing carries along the row: sixteen bytes at a time.
    for (; i + 16 <= n; i += 16) {
        const __m128i sum = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), sum);
    }
#endif
    for (; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + up[i]);
}

// `kAbove` false: the first row, whose row above counts as zeros.
template <int Bpp, bool kAbove>
void UnfilterAverageRow(uint8_t* row, const uint8_t* up, size_t n) {
    unsigned left[Bpp] = {};
    size_t i = 0;
    for (; i + Bpp <= n; i += Bpp) {
#pragma GCC unroll 8
        for (int c = 0; c < Bpp; ++c) {
            const unsigned above = kAbove ? up[i + c] : 0;
            const auto value = static_cast<uint8_t>(row[i + c] + ((left[c] + above) >> 1));
            row[i + c] = value;
            left[c] = value;
        }
    }
    for (int c = 0; i + c < n; ++c) {
        const unsigned above = kAbove ? up[i + c] : 0;
        row[i + c] = static_cast<uint8_t>(row[i + c] + ((left[c] + above) >> 1));
    }
}

template <int Bpp>
void UnfilterAverage(uint8_t* row, const uint8_t* up, size_t n) {
    if (up != nullptr)
        UnfilterAverageRow<Bpp, true>(row, up, n);
    else
        UnfilterAverageRow<Bpp, false>(row, up, n);
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
    uint8_t left[Bpp] = {}, upLeft[Bpp] = {};
    size_t i = 0;
    for (; i + Bpp <= n; i += Bpp) {
#pragma GCC unroll 8
        for (int c = 0; c < Bpp; ++c) {
            const uint8_t above = up[i + c];
            row[i + c] = left[c] =
                static_cast<uint8_t>(row[i + c] + PaethPredictor(left[c], above, upLeft[c]));
            upLeft[c] = above;
        }
    }
    for (int c = 0; i + c < n; ++c) {
        row[i + c] =
            static_cast<uint8_t>(row[i + c] + PaethPredictor(left[c], up[i + c], upLeft[c]));
    }
}

template <int Bpp>
void UnfilterSamples(uint8_t filter, uint8_t* row, const uint8_t* up, size_t n) {
    switch (filter) {
        case 1:
            return UnfilterSub<Bpp>(row, n);
        case 2:
            return up ? UnfilterUp(row, up, n) : void();
        case 3:
            return UnfilterAverage<Bpp>(row, up, n);
        case 4:
            return UnfilterPaeth<Bpp>(row, up, n);
        default:
            return;
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
        case 1:
            UnfilterSamples<1>(filter, samples, above, n);
            break;
        case 2:
            UnfilterSamples<2>(filter, samples, above, n);
            break;
        case 3:
            UnfilterSamples<3>(filter, samples, above, n);
            break;
        case 4:
            UnfilterSamples<4>(filter, samples, above, n);
            break;
        case 6:
            UnfilterSamples<6>(filter, samples, above, n);
            break;
        default:
            UnfilterSamples<8>(filter, samples, above, n);
            break;
    }
    row[0] = 0;
    return true;
}

// ---- Input -----------------------------------------------------------------------------------

// Files are read in blocks this large: a face takes a dozen read calls rather than fifty.
constexpr size_t kFileBlock = 256 * 1024;

// The bytes of a PNG file in order: from memory, or from a file read in blocks.
class ByteInput {
  public:
    explicit ByteInput(std::span<const uint8_t> bytes) : view_(bytes) {}
    explicit ByteInput(std::FILE* file) : file_(file) {}

    // Up to `max` bytes at the cursor, without copying; empty at the end of the input (a read
    // error counts as the end). They stay valid until Peek is called past them.
    std::span<const uint8_t> Peek(size_t max) {
        if (at_ == view_.size() && file_ != nullptr) Refill();
        return view_.subspan(at_, std::min(max, view_.size() - at_));
    }

    void Skip(size_t n) { at_ += n; }

    // Copies up to n bytes; answers how many there were.
    size_t Read(uint8_t* out, size_t n) {
        size_t done = 0;
        while (done < n) {
            const auto piece = Peek(n - done);
            if (piece.empty()) break;
            std::memcpy(out + done, piece.data(), piece.size());
            Skip(piece.size());
            done += piece.size();
        }
        return done;
    }

  private:
    void Refill() {
        if (!buffer_) buffer_ = MakeMappedBuffer<uint8_t>(kFileBlock);
        const size_t got = std::fread(buffer_.get(), 1, kFileBlock, file_);
        view_ = {buffer_.get(), got};
        at_ = 0;
    }

    std::span<const uint8_t> view_;
    size_t at_ = 0;
    std::FILE* file_ = nullptr;
    std::unique_ptr<uint8_t[]> buffer_;  // kFileBlock bytes once a file is read
};

// The image data's inflater, a zlib stream through ISA-L's inflate (header parsed, Adler-32
// checked): two to three times as fast as zlib's on rendered faces. Its state is plain memory,
// taken when the first rows are wanted and given back with its owner.
class Inflater {
  public:
    enum class Result {
        Going,    // took input or gave output, or waits for one of them
        Stuck,    // neither: the input is used up or there is no room for output
        Ended,    // the stream and its trailer are through
        Damaged,  // not a zlib stream, or its data or Adler-32 is wrong
    };

    // False when there is no memory for it.
    bool Start() {
        state_.reset(static_cast<inflate_state*>(std::malloc(sizeof(inflate_state))));
        if (!state_) return false;
        MapPagesNow(state_.get(), sizeof(inflate_state));
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_ZLIB;
        return true;
    }

    uint32_t availableIn() const { return state_->avail_in; }
    uint32_t availableOut() const { return state_->avail_out; }
    void SetInput(const uint8_t* data, uint32_t size) {
        state_->next_in = const_cast<uint8_t*>(data);
        state_->avail_in = size;
    }
    void SetOutput(uint8_t* data, uint32_t size) {
        state_->next_out = data;
        state_->avail_out = size;
    }

    Result Inflate() {
        const uint32_t in = state_->avail_in, out = state_->avail_out;
        if (isal_inflate(state_.get()) != ISAL_DECOMP_OK) return Result::Damaged;
        if (state_->block_state == ISAL_BLOCK_FINISH) return Result::Ended;
        return in == state_->avail_in && out == state_->avail_out ? Result::Stuck : Result::Going;
    }

  private:
    struct Free {
        void operator()(inflate_state* state) const { std::free(state); }
    };
    std::unique_ptr<inflate_state, Free> state_;
};

// Rows are inflated this many at a time, so that they are unfiltered while in cache.
constexpr uint64_t kWindowBytes = 128 * 1024;

}  // namespace

// ---- Decoder ---------------------------------------------------------------------------------
//
// The file is read once, front to back. The chunk walk stops at the first chunk that runs past
// the end or fails its CRC; image data chunks feed the inflater as the rows are asked for. A
// chunk is checked when its last byte has been read, so its data may already have gone into
// rows: the walk would have stopped before it, leaving the stream without that data, so the
// image counts as damaged.

class PngRowReader::Decoder {
  public:
    explicit Decoder(ByteInput input) : input_(std::move(input)) { ReadHeader(); }

    const PngImage& header() const { return header_; }
    bool damaged() const { return stream_ == Stream::Damaged; }
    bool outOfMemory() const { return outOfMemory_; }

    PngError error() const {
        if (damaged() || !anyRows_) return PngError::ImageData;
        if (unknownFilter_) return PngError::FilterType;
        return walkError_;
    }

    std::span<const uint8_t> NextRow() {
        if (read_ == rows_ && !Refill()) return {};
        const uint64_t start = read_ * stride_;
        const size_t length = static_cast<size_t>(std::min(stride_, filled_ - start));
        ++read_;
        return {window_.data() + start, length};
    }

    void Finish() {
        // Rows nobody asked for still belong to the stream: damage there voids the image.
        while (Refill()) {
        }
        if (stream_ == Stream::Inflating && produced_ == header_.height) {
            // Every row is out: read the stream's end, with no room for more rows.
            for (;;) {
                if (z_.availableIn() == 0 && !FeedInflater()) {
                    stream_ = Stream::Damaged;  // ends before the inflater is done
                    break;
                }
                uint8_t none;
                z_.SetOutput(&none, 0);
                const Inflater::Result result = Inflate();
                if (result == Inflater::Result::Ended) break;
                if (result == Inflater::Result::Damaged) {
                    stream_ = Stream::Damaged;
                    break;
                }
                // The inflater stops with input left only when it has more bytes to write: the
                // stream holds more than the header allows. The image's rows are all here.
                if (z_.availableIn() != 0) break;
            }
        }
        if (inChunk_ && !CloseChunk() && chunkUsed_) stream_ = Stream::Damaged;
        // The chunks after the image data: gamma, intent, and whether they are intact.
        Walk();
    }

    // The rest of the walk, without inflation: image data is only checked.
    PngError Walk() {
        while (EnterImageData()) CloseChunk();
        return walkError_;
    }

  private:
    // Signature and header chunk; the walk ends here on any fault.
    void ReadHeader() {
        uint8_t signature[8];
        if (input_.Read(signature, 8) < 8 || std::memcmp(signature, png::kSignature, 8) != 0) {
            return EndWalk(PngError::Signature);
        }
        uint8_t chunk[png::kChunkOverhead + png::kHeaderDataBytes];
        // The header fields stand at fixed places: a header of any other length is damaged.
        if (input_.Read(chunk, sizeof chunk) < sizeof chunk ||
            LoadBe32(chunk) != png::kHeaderDataBytes || !png::IsType(chunk + 4, "IHDR") ||
            png::ChunkCrc(chunk + 4, png::kHeaderDataBytes) != LoadBe32(chunk + 21)) {
            return EndWalk(PngError::Header);
        }
        const uint8_t* data = chunk + 8;
        header_.width = LoadBe32(data);
        header_.height = LoadBe32(data + 4);
        header_.bitDepth = data[8];
        header_.colorType = data[9];
        if (data[10] != 0) return EndWalk(PngError::CompressionMethod);
        if (data[11] != 0) return EndWalk(PngError::FilterMethod);
        if (data[12] != 0) return EndWalk(PngError::Interlaced);
        if (const PngError depth = CheckBitDepth(header_.colorType, header_.bitDepth);
            depth != PngError::None) {
            return EndWalk(depth);
        }
        stride_ = PngRowStride(header_);
        bpp_ = PngPixelBytes(header_);
        // Whole rows per window, at least one.
        windowRows_ = std::max<uint64_t>(1, kWindowBytes / stride_);
    }

    void EndWalk(PngError error) {
        if (walkError_ == PngError::None) walkError_ = error;
        walkEnded_ = true;
    }

    // Walks to the data of the next image data chunk, handling the chunks on the way. False
    // once the walk has ended (IEND, end of file, or a damaged chunk).
    bool EnterImageData() {
        while (!walkEnded_) {
            uint8_t head[8];
            const size_t got = input_.Read(head, 8);
            if (got == 0) {
                walkEnded_ = true;  // the end of the file without IEND: no fault
                return false;
            }
            if (got < 8) {
                EndWalk(PngError::Chunk);
                return false;
            }
            inChunk_ = true;
            chunkLeft_ = LoadBe32(head);
            chunkCrc_ = Crc32(0, head + 4, 4);
            if (png::IsType(head + 4, "IDAT")) return true;

            // Gamma and intent need their first data bytes; everything else is skipped.
            const bool gamma = png::IsType(head + 4, "gAMA") && chunkLeft_ >= 4;
            const bool intent = png::IsType(head + 4, "sRGB") && chunkLeft_ >= 1;
            uint8_t first[4] = {};
            size_t kept = 0;
            while (chunkLeft_ > 0) {
                const auto piece =
                    input_.Peek(static_cast<size_t>(std::min<uint64_t>(chunkLeft_, kFileBlock)));
                if (piece.empty()) break;
                const size_t keep = std::min(piece.size(), sizeof first - kept);
                std::memcpy(first + kept, piece.data(), keep);
                kept += keep;
                TakeChunkBytes(piece.size());
            }
            if (!CloseChunk()) return false;
            if (gamma) header_.gamma = LoadBe32(first);
            if (intent) header_.renderingIntent = first[0];
            if (png::IsType(head + 4, "IEND")) {
                walkEnded_ = true;
                return false;
            }
        }
        return false;
    }

    // Consumes n bytes of the current chunk's data, which Peek has just shown.
    void TakeChunkBytes(size_t n) {
        const auto bytes = input_.Peek(n);
        chunkCrc_ = Crc32(chunkCrc_, bytes.data(), n);
        input_.Skip(n);
        chunkLeft_ -= n;
    }

    // Reads the rest of the current chunk and its CRC; false (and the walk ends) when the chunk
    // runs past the end of the file or fails its CRC.
    bool CloseChunk() {
        inChunk_ = false;
        while (chunkLeft_ > 0) {
            const auto piece =
                input_.Peek(static_cast<size_t>(std::min<uint64_t>(chunkLeft_, kFileBlock)));
            if (piece.empty()) break;
            TakeChunkBytes(piece.size());
        }
        uint8_t crc[4];
        if (chunkLeft_ > 0 || input_.Read(crc, 4) < 4 || LoadBe32(crc) != chunkCrc_) {
            EndWalk(PngError::Chunk);
            return false;
        }
        return true;
    }

    // Points the inflater at the next image data bytes. False when there are no more.
    bool FeedInflater() {
        for (;;) {
            if (!inChunk_) {
                if (!EnterImageData()) return false;
                chunkUsed_ = false;
            }
            if (chunkLeft_ == 0) {
                if (!CloseChunk()) {
                    if (chunkUsed_) stream_ = Stream::Damaged;
                    return false;
                }
                continue;
            }
            const auto piece =
                input_.Peek(static_cast<size_t>(std::min<uint64_t>(chunkLeft_, kFileBlock)));
            if (piece.empty()) {
                EndWalk(PngError::Chunk);  // the chunk runs past the end of the file
                if (chunkUsed_) stream_ = Stream::Damaged;
                return false;
            }
            z_.SetInput(piece.data(), static_cast<uint32_t>(piece.size()));
            return true;
        }
    }

    // One inflate call; the input it took counts towards the chunk's CRC.
    Inflater::Result Inflate() {
        const uint32_t before = z_.availableIn();
        const Inflater::Result result = z_.Inflate();
        if (before != z_.availableIn()) {
            chunkUsed_ = true;
            TakeChunkBytes(before - z_.availableIn());
        }
        if (result == Inflater::Result::Ended) stream_ = Stream::Ended;
        return result;
    }

    // Inflates and unfilters the next window of rows. False when no more rows come.
    bool Refill() {
        // No stride: the header was refused, and no rows come.
        if (stream_ >= Stream::Ended || produced_ >= header_.height || stride_ == 0) return false;
        if (stream_ == Stream::NotStarted) {
            if (!z_.Start()) {
                stream_ = Stream::Damaged;
                outOfMemory_ = true;
                return false;
            }
            stream_ = Stream::Inflating;
        }
        // The last row of the window becomes the row above the next window's first row.
        if (rows_ > 0) {
            std::memcpy(above_.data(), window_.data() + (rows_ - 1) * stride_,
                        static_cast<size_t>(stride_));
            haveAbove_ = true;
        }
        rows_ = read_ = 0;
        filled_ = 0;
        const uint64_t want = std::min<uint64_t>(windowRows_, header_.height - produced_) * stride_;
        while (filled_ < want && stream_ == Stream::Inflating) {
            if (z_.availableIn() == 0 && !FeedInflater()) {
                stream_ = Stream::Damaged;  // out of image data before the stream's end
                break;
            }
            if (!Grow(want)) break;
            const auto room = static_cast<uint32_t>(
                std::min<uint64_t>(std::min<uint64_t>(window_.size(), want) - filled_, 1u << 30));
            z_.SetOutput(window_.data() + filled_, room);
            const Inflater::Result result = Inflate();
            filled_ += room - z_.availableOut();
            if (result == Inflater::Result::Damaged || result == Inflater::Result::Stuck) {
                stream_ = Stream::Damaged;
            }
        }
        if (stream_ == Stream::Ended && inChunk_) {
            // The chunk that ends the stream is checked before its rows count.
            if (!CloseChunk()) stream_ = Stream::Damaged;
        }
        if (damaged()) return false;

        const uint64_t whole = filled_ / stride_;
        rows_ = whole + (filled_ % stride_ != 0 ? 1 : 0);
        for (uint64_t r = 0; r < rows_; ++r) {
            uint8_t* row = window_.data() + r * stride_;
            const uint8_t* up = r > 0 ? row - stride_ : haveAbove_ ? above_.data() : nullptr;
            const auto length = static_cast<size_t>(std::min(stride_, filled_ - r * stride_));
            if (!UnfilterRow(row, up, length, bpp_)) unknownFilter_ = true;
        }
        produced_ += whole;
        if (filled_ % stride_ != 0) produced_ = header_.height;  // a row cut short ends the image
        if (rows_ > 0) anyRows_ = true;
        return rows_ > 0;
    }

    // Room for `want` bytes in the window, claimed as the data arrives: a header that promises
    // huge rows costs memory only for rows that really come.
    bool Grow(uint64_t want) {
        if (window_.size() > filled_) return true;
        try {
            const uint64_t size =
                std::min(want, std::max<uint64_t>(2 * window_.size(), kWindowBytes));
            ResizeMapped(window_, static_cast<size_t>(size));
            if (above_.size() < std::min<uint64_t>(stride_, size)) {
                above_.resize(static_cast<size_t>(std::min<uint64_t>(stride_, size)));
            }
            return true;
        } catch (const std::bad_alloc&) {
            stream_ = Stream::Damaged;
            outOfMemory_ = true;
            return false;
        }
    }

    ByteInput input_;
    PngImage header_;
    PngError walkError_ = PngError::None;
    bool walkEnded_ = false;

    // The chunk the cursor is in.
    bool inChunk_ = false;
    bool chunkUsed_ = false;  // some of its data went into the inflater
    uint64_t chunkLeft_ = 0;
    uint32_t chunkCrc_ = 0;

    // How far the image data has come, in the order it gets there; Damaged ends it from any
    // stage: the data could not be inflated, or it proved damaged or cut short.
    enum class Stream { NotStarted, Inflating, Ended, Damaged };
    Stream stream_ = Stream::NotStarted;
    Inflater z_;
    bool outOfMemory_ = false;
    bool unknownFilter_ = false;
    bool anyRows_ = false;

    uint64_t stride_ = 0;
    uint32_t bpp_ = 1;
    uint64_t windowRows_ = 1;
    std::vector<uint8_t> window_;  // rows as inflated, then unfiltered in place
    std::vector<uint8_t> above_;   // the row above the window's first row
    bool haveAbove_ = false;
    uint64_t filled_ = 0;    // bytes of the window holding data
    uint64_t rows_ = 0;      // rows in the window, the last possibly cut short
    uint64_t read_ = 0;      // rows of the window handed out
    uint64_t produced_ = 0;  // whole rows of the image inflated so far
};

// ---- Public interface ------------------------------------------------------------------------

PngRowReader::PngRowReader(std::span<const uint8_t> file)
    : decoder_(std::make_unique<Decoder>(ByteInput(file))) {}
PngRowReader::PngRowReader(std::FILE* file)
    : decoder_(std::make_unique<Decoder>(ByteInput(file))) {}
PngRowReader::~PngRowReader() = default;

const PngImage& PngRowReader::header() const { return decoder_->header(); }
std::span<const uint8_t> PngRowReader::NextRow() { return decoder_->NextRow(); }
void PngRowReader::Finish() { decoder_->Finish(); }
bool PngRowReader::damaged() const { return decoder_->damaged(); }
PngError PngRowReader::error() const { return decoder_->error(); }
bool PngRowReader::outOfMemory() const { return decoder_->outOfMemory(); }

uint64_t PngRowBytes(const PngImage& image) {
    const uint64_t bits = uint64_t{image.bitDepth} * Channels(image.colorType);
    return (SaturatingMul(image.width, bits) + 7) / 8;
}

uint32_t PngPixelBytes(const PngImage& image) {
    const uint32_t bytes = image.bitDepth * Channels(image.colorType) / 8;
    return std::max(bytes, 1u);
}

PngError WalkPngChunks(std::span<const uint8_t> file, PngImage& image) {
    try {
        PngRowReader::Decoder decoder{ByteInput(file)};
        const PngError error = decoder.Walk();
        image = decoder.header();
        return error;
    } catch (const std::bad_alloc&) {
        return PngError::ImageData;
    }
}

PngImage DecodePng(std::span<const uint8_t> file) {
    if (file.empty()) return {};
    try {
        PngRowReader reader(file);
        std::vector<uint8_t> scanlines;
        // Room for the rows the header allows, but no more than the data could plausibly hold;
        // growth past that follows the data.
        const uint64_t limit = SaturatingMul(reader.header().height, PngRowStride(reader.header()));
        scanlines.reserve(
            static_cast<size_t>(std::min<uint64_t>(limit, SaturatingMul(file.size(), 4) + 65536)));
        for (auto row = reader.NextRow(); !row.empty(); row = reader.NextRow()) {
            if (scanlines.capacity() - scanlines.size() < row.size()) {
                scanlines.reserve(static_cast<size_t>(
                    std::min<uint64_t>(limit, 2 * scanlines.capacity() + row.size())));
            }
            scanlines.insert(scanlines.end(), row.begin(), row.end());
        }
        reader.Finish();
        PngImage image = reader.header();
        image.error = reader.error();
        if (!reader.damaged()) image.scanlines = std::move(scanlines);
        return image;
    } catch (const std::bad_alloc&) {
        PngImage image;
        image.error = PngError::ImageData;
        return image;
    }
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
