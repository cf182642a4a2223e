#include "standalone_host/image_files/png_writer.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace KorvoHost::ImageFileIo {
namespace {

constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// Length and type before a chunk's data, CRC after it.
constexpr std::size_t kChunkHead = 8;
constexpr std::size_t kChunkTail = 4;
// A chunk's length is below 2^31; image data beyond this is split over several chunks.
constexpr std::size_t kMaxChunkData = std::size_t(1) << 30;
// The zlib stream's header: deflate with a 32 KiB window, "fastest" compression level. A
// decoder only needs the window size; neither deflater reaches back further.
constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x01};
constexpr std::size_t kZlibTrailer = 4;  // Adler-32 of the filtered rows

constexpr std::uint8_t kFilterNone = 0;
constexpr std::uint8_t kFilterUp = 2;

constexpr int kMaxThreads = 8;
// Bands per thread: rows differ in cost (a plain ceiling deflates faster than a busy floor),
// so a thread that finishes early takes another band.
constexpr int kBandsPerThread = 2;
// Below this a band is not worth a thread of its own.
constexpr std::uint64_t kMinBandBytes = std::uint64_t(256) << 10;
// Above this a band's compressed data is unlikely to fit one chunk, and holds much memory.
constexpr std::uint64_t kMaxBandBytes = std::uint64_t(256) << 20;
// Rows are filtered this many bytes at a time and handed to deflate while still in cache.
constexpr std::size_t kFilterBlockBytes = std::size_t(128) << 10;

void StoreBe32(std::uint8_t* at, std::uint32_t value) {
    at[0] = std::uint8_t(value >> 24);
    at[1] = std::uint8_t(value >> 16);
    at[2] = std::uint8_t(value >> 8);
    at[3] = std::uint8_t(value);
}

// CRCs as PNG and zlib define them, from ISA-L, which folds with carry-less multiplies where
// zlib goes through tables.
std::uint32_t Crc(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return crc32_gzip_refl(crc, data, size);
}

std::uint32_t ChunkCrc(const std::uint8_t* typeAndData, std::size_t dataBytes) {
    return Crc(0, typeAndData, dataBytes + 4);
}

// The CRC of an IDAT chunk holding these bytes.
std::uint32_t ImageDataCrc(const std::uint8_t* data, std::size_t size) {
    const auto type = reinterpret_cast<const std::uint8_t*>("IDAT");
    return Crc(Crc(0, type, 4), data, size);
}

// Appends a whole chunk; for the small ones around the image data.
void AppendChunk(std::vector<std::uint8_t>& out, const char (&type)[5], const std::uint8_t* data,
                 std::size_t size) {
    const std::size_t start = out.size();
    out.resize(start + kChunkHead + size + kChunkTail);
    std::uint8_t* at = out.data() + start;
    StoreBe32(at, std::uint32_t(size));
    std::memcpy(at + 4, type, 4);
    if (size) std::memcpy(at + kChunkHead, data, size);
    StoreBe32(at + kChunkHead + size, ChunkCrc(at + 4, size));
}

std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// One band of rows and, once deflated, its part of the image data: the zlib header in the
// first band, the band's deflate stream, room for the zlib trailer in the last band.
struct Band {
    int firstRow = 0;
    int endRow = 0;
    bool first = false;
    bool last = false;

    std::unique_ptr<std::uint8_t[]> data;
    std::size_t capacity = 0;
    std::size_t size = 0;             // bytes of data in use
    std::uint32_t adler = 1;          // of the band's filtered rows
    std::uint32_t crc = 0;            // of its IDAT chunk so far, when the data fits one chunk
    std::uint64_t filteredBytes = 0;  // filter bytes and samples of the band's rows
    std::string problem;              // empty unless the band failed
};

// Makes room for at least `more` further bytes; a stream that beats its bound should not
// happen, but costs only a copy if it does.
void Reserve(Band& band, std::size_t more) {
    if (band.capacity - band.size >= more) return;
    const std::size_t capacity = std::max(band.capacity * 2, band.size + more);
    auto grown = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[capacity]);
    if (band.size) std::memcpy(grown.get(), band.data.get(), band.size);
    band.data = std::move(grown);
    band.capacity = capacity;
}

// Where a block of filtered rows leaves a band's deflate stream: more rows of the band follow,
// the band ends byte-aligned and the next band's stream goes on from there, or the image ends.
enum class BlockEnd { More, Sync, Finish };

// Both deflaters count in 32 bits: a block of more than 1 GiB (a row that long) goes in slices,
// the block's end with the last of them.
constexpr std::size_t kMaxSlice = std::size_t(1) << 30;

// Each band is a raw deflate stream of its own (no zlib header or trailer, no history before
// the band): the bands' streams are joined behind one header, and the trailer comes from their
// checksums combined.

// ISA-L's deflater at level 1: rendered faces filtered Up are mostly runs of zeros, which its
// hashing finds about six times as fast as zlib's run-length matching, in files a quarter
// larger that inflate a little faster. Level 0 is no faster on faces, and its files are a
// third larger again and take half as long again to read back.
class IsalDeflater {
  public:
    IsalDeflater()
        : stream_(new (std::nothrow) isal_zstream{}),
          levelBuffer_(new (std::nothrow) std::uint8_t[kLevelBufferBytes]) {
        if (stream_ && levelBuffer_) Reset();
    }

    bool ready() const { return stream_ && levelBuffer_; }
    void Reset() {
        isal_deflate_init(stream_.get());
        stream_->level = 1;
        stream_->level_buf = levelBuffer_.get();
        stream_->level_buf_size = kLevelBufferBytes;
        stream_->gzip_flag = IGZIP_DEFLATE;
    }
    // Data that does not compress is stored: the rows and a few bytes per block.
    static std::size_t Bound(std::uint64_t bytes) {
        return std::size_t(bytes + bytes / 64 + (std::size_t(4) << 10));
    }

    bool Deflate(Band& band, const std::uint8_t* data, std::size_t size, BlockEnd end) {
        isal_zstream& stream = *stream_;
        do {
            const std::size_t slice = std::min(size, kMaxSlice);
            const bool blockEnd = slice == size;
            stream.next_in = const_cast<std::uint8_t*>(data);
            stream.avail_in = std::uint32_t(slice);
            stream.flush = blockEnd && end == BlockEnd::Sync ? SYNC_FLUSH : NO_FLUSH;
            stream.end_of_stream = blockEnd && end == BlockEnd::Finish;
            data += slice;
            size -= slice;
            for (;;) {
                if (band.size == band.capacity) Reserve(band, std::size_t(64) << 10);
                const std::size_t room =
                    std::min<std::size_t>(band.capacity - band.size, UINT32_MAX);
                stream.next_out = band.data.get() + band.size;
                stream.avail_out = std::uint32_t(room);
                const int status = isal_deflate(&stream);
                band.size += room - stream.avail_out;
                if (status != COMP_OK) return false;
                if (stream.end_of_stream) {
                    if (stream.internal_state.state == ZSTATE_END) break;
                } else if (stream.avail_in == 0 && stream.avail_out != 0) {
                    // The input is taken and, for a flush, room to spare says it is all out.
                    break;
                }
            }
        } while (size > 0);
        return true;
    }

  private:
    static constexpr std::uint32_t kLevelBufferBytes = ISAL_DEF_LVL1_DEFAULT;
    std::unique_ptr<isal_zstream> stream_;  // too large for a thread's stack frame
    std::unique_ptr<std::uint8_t[]> levelBuffer_;
};

// zlib's deflater, level 1 with run-length matching only, as the host wrote faces before.
class ZlibDeflater {
  public:
    ZlibDeflater() { ready_ = deflateInit2(&stream_, 1, Z_DEFLATED, -15, 8, Z_RLE) == Z_OK; }
    ~ZlibDeflater() {
        if (ready_) deflateEnd(&stream_);
    }
    ZlibDeflater(const ZlibDeflater&) = delete;
    ZlibDeflater& operator=(const ZlibDeflater&) = delete;

    bool ready() const { return ready_; }
    void Reset() { deflateReset(&stream_); }
    std::size_t Bound(std::uint64_t bytes) {
        return deflateBound(&stream_, uLong(bytes)) + (std::size_t(64) << 10);
    }

    bool Deflate(Band& band, const std::uint8_t* data, std::size_t size, BlockEnd end) {
        const int flush = end == BlockEnd::More   ? Z_NO_FLUSH
                          : end == BlockEnd::Sync ? Z_SYNC_FLUSH
                                                  : Z_FINISH;
        do {
            const std::size_t slice = std::min(size, kMaxSlice);
            const int sliceFlush = slice == size ? flush : Z_NO_FLUSH;
            stream_.next_in = const_cast<Bytef*>(data);
            stream_.avail_in = uInt(slice);
            data += slice;
            size -= slice;
            for (;;) {
                if (band.size == band.capacity) Reserve(band, std::size_t(64) << 10);
                const std::size_t room = std::min<std::size_t>(band.capacity - band.size, UINT_MAX);
                stream_.next_out = band.data.get() + band.size;
                stream_.avail_out = uInt(room);
                const int status = deflate(&stream_, sliceFlush);
                band.size += room - stream_.avail_out;
                if (status == Z_STREAM_END) break;
                if (status != Z_OK && status != Z_BUF_ERROR) return false;
                // Done once the input is taken and the flush, if any, left room to spare.
                if (stream_.avail_in == 0 && stream_.avail_out != 0 && sliceFlush != Z_FINISH)
                    break;
            }
        } while (size > 0);
        return true;
    }

  private:
    z_stream stream_{};
    bool ready_ = false;
};

void FilterUp(std::uint8_t* out, const std::uint8_t* row, const std::uint8_t* above,
              std::size_t bytes) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // The compiler keeps the loop below a byte at a time, as the rows might overlap the output.
    for (; i + 16 <= bytes; i += 16) {
        const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i prior = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(samples, prior));
    }
#endif
    for (; i < bytes; ++i) out[i] = std::uint8_t(row[i] - above[i]);
}

// Filters and deflates one band on the calling thread with a fresh stream of `deflater`;
// leaves the problem in the band when it fails.
template <typename Deflater>
void EncodeBand(RowSource rows, int channels, Band& band, Deflater& deflater,
                std::vector<std::uint8_t>& block) try {
    const std::size_t rowBytes = std::size_t(rows.Width()) * channels;
    const std::size_t stride = rowBytes + 1;
    band.filteredBytes = std::uint64_t(band.endRow - band.firstRow) * stride;

    deflater.Reset();
    // Pages of the buffer that deflate leaves unused are never touched.
    band.capacity = sizeof kZlibHeader + deflater.Bound(band.filteredBytes) + kZlibTrailer;
    band.data.reset(new std::uint8_t[band.capacity]);
    if (band.first) {
        std::memcpy(band.data.get(), kZlibHeader, sizeof kZlibHeader);
        band.size = sizeof kZlibHeader;
    }

    // Filter a block of rows, checksum and deflate it while it is in cache. The band's first
    // row filters against the last row of the band above, so the bands join into one image.
    const std::size_t blockRows = std::max<std::size_t>(1, kFilterBlockBytes / stride);
    block.resize(blockRows * stride);
    const std::uint8_t* above = band.firstRow > 0 ? rows.Row(band.firstRow - 1, channels) : nullptr;
    for (int y = band.firstRow; y < band.endRow;) {
        const int count = int(std::min<std::size_t>(blockRows, std::size_t(band.endRow - y)));
        std::uint8_t* out = block.data();
        for (int i = 0; i < count; ++i, ++y, out += stride) {
            const std::uint8_t* row = rows.Row(y, channels);
            if (above) {
                out[0] = kFilterUp;
                FilterUp(out + 1, row, above, rowBytes);
            } else {
                out[0] = kFilterNone;  // the top row has nothing above it
                std::memcpy(out + 1, row, rowBytes);
            }
            above = row;
        }
        const std::size_t bytes = std::size_t(out - block.data());
        // ISA-L's Adler-32, vectorised; zlib's takes a byte at a time, four times as long.
        band.adler = isal_adler32(band.adler, block.data(), bytes);
        const BlockEnd end = y < band.endRow ? BlockEnd::More
                             : band.last     ? BlockEnd::Finish
                                             : BlockEnd::Sync;
        if (!deflater.Deflate(band, block.data(), bytes, end)) {
            band.problem = "cannot compress the image data";
            return;
        }
    }

    // The last band's trailer waits for the other bands' checksums, its CRC for the trailer.
    Reserve(band, kZlibTrailer);
    if (band.size + (band.last ? kZlibTrailer : 0) <= kMaxChunkData) {
        band.crc = ImageDataCrc(band.data.get(), band.size);
    }
} catch (const std::bad_alloc&) {
    band.problem = "out of memory";
} catch (const std::exception& error) {
    band.problem = error.what();
}

// Encodes the bands left, one after another, each with a fresh stream of the thread's deflater.
template <typename Deflater>
void EncodeBands(const RowSource& rows, int channels, std::vector<Band>& bands,
                 std::atomic<int>& next) {
    // Kept by the thread for the next image: a deflater holds some hundred kilobytes.
    thread_local Deflater deflater;
    thread_local std::vector<std::uint8_t> block;
    for (int b; (b = next.fetch_add(1, std::memory_order_relaxed)) < int(bands.size());) {
        if (!deflater.ready()) {
            bands[b].problem = "out of memory";
        } else {
            EncodeBand(rows, channels, bands[b], deflater, block);
        }
    }
}

// Threads that help encode images, started when first wanted and kept until the process ends:
// a run writes a face file every few hundred milliseconds, and each would otherwise start and
// end threads of its own.
class Helpers {
  public:
    static Helpers& Instance() {
        static Helpers helpers;
        return helpers;
    }

    // Runs `work` on the calling thread and on up to `count` helpers at once, and returns when
    // every one of them is done with it. An image written while another one has the helpers
    // is encoded on its caller's thread alone.
    void Run(int count, const std::function<void()>& work) {
        std::unique_lock turn(turn_, std::try_to_lock);
        if (!turn || count <= 0) return work();
        {
            std::lock_guard lock(mutex_);
            try {
                while (int(threads_.size()) < count) threads_.emplace_back([this] { Serve(); });
            } catch (const std::system_error&) {
                // Fewer threads than hoped for: the ones running share the work.
            }
            work_ = &work;
            wanted_ = std::min(count, int(threads_.size()));
        }
        wake_.notify_all();
        work();
        std::unique_lock lock(mutex_);
        wanted_ = 0;  // a helper not yet started would find nothing left to do
        done_.wait(lock, [this] { return running_ == 0; });
        work_ = nullptr;
    }

  private:
    Helpers() = default;
    ~Helpers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        // The threads are joined as they are destroyed.
    }

    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || wanted_ > 0; });
            if (stopping_) return;
            --wanted_;
            ++running_;
            const std::function<void()>* work = work_;
            lock.unlock();
            (*work)();
            lock.lock();
            if (--running_ == 0) done_.notify_all();
        }
    }

    std::mutex turn_;  // held by the image that has the helpers
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void()>* work_ = nullptr;
    int wanted_ = 0;   // helpers still to join the work
    int running_ = 0;  // helpers at work
    bool stopping_ = false;
    std::vector<std::jthread> threads_;  // last: joined before the rest is destroyed
};

bool WriteAll(std::FILE* file, const std::uint8_t* data, std::size_t size, std::string& problem) {
    if (std::fwrite(data, 1, size, file) == size) return true;
    problem = "cannot write the file: " + ErrnoText(errno);
    return false;
}

// A band's data as IDAT chunks: one, with the CRC the band worked out, unless it is too long.
bool WriteImageData(std::FILE* file, const Band& band, std::string& problem) {
    for (std::size_t at = 0; at < band.size; at += kMaxChunkData) {
        const std::size_t size = std::min(band.size - at, kMaxChunkData);
        std::uint8_t head[kChunkHead];
        StoreBe32(head, std::uint32_t(size));
        std::memcpy(head + 4, "IDAT", 4);
        std::uint8_t tail[kChunkTail];
        StoreBe32(tail, size == band.size ? band.crc : ImageDataCrc(band.data.get() + at, size));
        if (!WriteAll(file, head, sizeof head, problem) ||
            !WriteAll(file, band.data.get() + at, size, problem) ||
            !WriteAll(file, tail, sizeof tail, problem)) {
            return false;
        }
    }
    return true;
}

// Threads to encode an image on, the caller's among them. Asked of the system once: each
// asking reads a file of its own.
int ThreadCount() {
    static const int count =
        int(std::clamp(std::thread::hardware_concurrency(), 1u, unsigned(kMaxThreads)));
    return count;
}

}  // namespace

int PngBandCount(int width, int height, int channels) {
    if (width <= 0 || height <= 0) return 1;
    const std::uint64_t bytes = std::uint64_t(height) * (std::uint64_t(width) * channels + 1);
    const int threads = ThreadCount();
    std::uint64_t bands = threads > 1 ? std::uint64_t(threads) * kBandsPerThread : 1;
    bands = std::min(bands, std::max<std::uint64_t>(1, bytes / kMinBandBytes));
    bands = std::max(bands, (bytes + kMaxBandBytes - 1) / kMaxBandBytes);
    return int(std::min<std::uint64_t>(bands, std::uint64_t(height)));
}

bool EncodePngInBands(std::FILE* file, const RowSource& rows, int channels, int bandCount,
                      std::string& problem, PngDeflate deflate) {
    const int height = rows.Height();
    if (rows.Width() <= 0 || height <= 0) {
        problem = "cannot write PNG: the image is empty";
        return false;
    }
    bandCount = std::clamp(bandCount, 1, height);

    // Split the rows as evenly as they go.
    std::vector<Band> bands(static_cast<std::size_t>(bandCount));
    for (int b = 0; b < bandCount; ++b) {
        bands[b].firstRow = int(std::int64_t(height) * b / bandCount);
        bands[b].endRow = int(std::int64_t(height) * (b + 1) / bandCount);
        bands[b].first = b == 0;
        bands[b].last = b == bandCount - 1;
    }

    // Deflate the bands side by side, each thread taking the next band left.
    std::atomic<int> next{0};
    const std::function<void()> work = [&] {
        if (deflate == PngDeflate::Zlib) {
            EncodeBands<ZlibDeflater>(rows, channels, bands, next);
        } else {
            EncodeBands<IsalDeflater>(rows, channels, bands, next);
        }
    };
    Helpers::Instance().Run(std::min(bandCount, ThreadCount()) - 1, work);
    for (const Band& band : bands) {
        if (!band.problem.empty()) {
            problem = "cannot write PNG: " + band.problem;
            return false;
        }
    }

    // The zlib trailer: the Adler-32 of all filtered rows, from the bands' own.
    std::uint32_t adler = bands[0].adler;
    for (std::size_t b = 1; b < bands.size(); ++b) {
        adler =
            std::uint32_t(adler32_combine(adler, bands[b].adler, z_off_t(bands[b].filteredBytes)));
    }
    Band& last = bands.back();
    std::uint8_t* trailer = last.data.get() + last.size;
    StoreBe32(trailer, adler);
    last.crc = Crc(last.crc, trailer, kZlibTrailer);
    last.size += kZlibTrailer;

    // Signature and header chunks, the image data as the bands left it, the end.
    std::vector<std::uint8_t> head(std::begin(kSignature), std::end(kSignature));
    std::uint8_t header[13] = {};
    StoreBe32(header, std::uint32_t(rows.Width()));
    StoreBe32(header + 4, std::uint32_t(height));
    header[8] = 8;                      // bits per sample
    header[9] = channels == 4 ? 6 : 2;  // truecolour, with alpha for four channels
    AppendChunk(head, "IHDR", header, sizeof header);
    const std::uint8_t perceptual = 0;  // rendering intent
    AppendChunk(head, "sRGB", &perceptual, 1);
    std::vector<std::uint8_t> end;
    AppendChunk(end, "IEND", nullptr, 0);

    if (!WriteAll(file, head.data(), head.size(), problem)) return false;
    for (const Band& band : bands) {
        if (!WriteImageData(file, band, problem)) return false;
    }
    return WriteAll(file, end.data(), end.size(), problem);
}

}  // namespace KorvoHost::ImageFileIo
