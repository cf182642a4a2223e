#include "stitch/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "stitch/png_format.h"

namespace Korvo {
namespace {

constexpr size_t kMaxImageDataChunk = 8192;
constexpr int kDeflateLevel = 6;

class Deflater {
  public:
    Deflater() { ready_ = deflateInit(&stream_, kDeflateLevel) == Z_OK; }
    ~Deflater() {
        if (ready_) deflateEnd(&stream_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool ready() const { return ready_; }

    // Compresses `size` bytes and appends what comes out to `out`.
    bool Push(const uint8_t* data, size_t size, int flush, std::vector<uint8_t>& out) {
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = static_cast<uInt>(size);
        for (;;) {
            stream_.next_out = staging_;
            stream_.avail_out = sizeof staging_;
            const int status = deflate(&stream_, flush);
            out.insert(out.end(), staging_, staging_ + (sizeof staging_ - stream_.avail_out));
            if (status == Z_STREAM_END) return true;
            if (status != Z_OK && status != Z_BUF_ERROR) return false;
            // Done once all input is taken and the flush left room to spare.
            if (stream_.avail_in == 0 && stream_.avail_out != 0 && flush != Z_FINISH) return true;
        }
    }

  private:
    z_stream stream_{};
    bool ready_ = false;
    uint8_t staging_[65536];
};

void AppendChunk(std::vector<uint8_t>& out, const char (&type)[5], const uint8_t* data,
                 size_t size) {
    const size_t start = out.size();
    out.resize(start + png::kChunkOverhead + size);
    uint8_t* at = out.data() + start;
    png::StoreBe32(at, static_cast<uint32_t>(size));
    std::copy_n(type, 4, at + 4);
    if (size != 0) std::copy_n(data, size, at + 8);
    png::StoreBe32(at + 8 + size, png::ChunkCrc(at + 4, size));
}

}  // namespace

std::vector<uint8_t> EncodePng(const PixelImage& image) {
    if (image.bitsPerPixel != 24 && image.bitsPerPixel != 32) return {};
    const size_t rowBytes = image.RowBytes();
    if (rowBytes == 0 || image.height == 0 || rowBytes > (1u << 30) ||
        image.pixels.size() / rowBytes < image.height) {
        return {};
    }

    try {
        // Image data: every row unfiltered (filter byte 0), flushed row by row.
        std::vector<uint8_t> compressed;
        compressed.reserve(std::min<size_t>(size_t{16} << 20, rowBytes * image.height + 65536));
        auto deflater = std::make_unique<Deflater>();
        if (!deflater->ready()) return {};
        const uint8_t noFilter = 0;
        for (uint32_t y = 0; y < image.height; ++y) {
            if (!deflater->Push(&noFilter, 1, Z_NO_FLUSH, compressed) ||
                !deflater->Push(image.pixels.data() + y * rowBytes, rowBytes, Z_SYNC_FLUSH,
                                compressed)) {
                return {};
            }
        }
        if (!deflater->Push(nullptr, 0, Z_FINISH, compressed)) return {};

        std::vector<uint8_t> out;
        out.reserve(compressed.size() + compressed.size() / kMaxImageDataChunk * 12 + 65536);
        out.insert(out.end(), std::begin(png::kSignature), std::end(png::kSignature));

        uint8_t header[png::kHeaderDataBytes] = {};
        png::StoreBe32(header, image.width);
        png::StoreBe32(header + 4, image.height);
        header[8] = 8;                                 // bit depth
        header[9] = image.bitsPerPixel == 24 ? 2 : 6;  // truecolour, with alpha for 32 bits
        AppendChunk(out, "IHDR", header, sizeof header);
        const uint8_t renderingIntent = 0;
        AppendChunk(out, "sRGB", &renderingIntent, 1);
        uint8_t gamma[4];
        png::StoreBe32(gamma, 45455);
        AppendChunk(out, "gAMA", gamma, sizeof gamma);
        for (size_t at = 0; at < compressed.size(); at += kMaxImageDataChunk) {
            AppendChunk(out, "IDAT", compressed.data() + at,
                        std::min(kMaxImageDataChunk, compressed.size() - at));
        }
        AppendChunk(out, "IEND", nullptr, 0);
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace Korvo
