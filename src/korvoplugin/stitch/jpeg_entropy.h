#pragma once

// The encoder's second stage: quantised blocks to the entropy-coded segment, with the bit
// writer that buffers it for the output stream; and the symbol counts for fitted tables.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "stitch/jpeg_coding_tables.h"
#include "stitch/jpeg_layout.h"
#include "stitch/jpeg_streams.h"

namespace Korvo::jpeg {

// Large enough that handing a block to a file costs one write call per 64 KiB, not per 4 KiB.
constexpr size_t kOutputBlock = 64 * 1024;
// Room past a full block for what one coded block can add (64 symbols of at most 27 bits, each
// byte possibly doubled by stuffing).
constexpr size_t kOutputSlack = 1024;

// The coder's bit accumulator, kept in registers while a row is coded: the low 64 − `free` bits
// of `acc` are pending (the bits above them are stale and shift out). Once 64 bits are pending
// they go to `out` as eight bytes.
struct BitSink {
    uint64_t acc;
    int free;
    uint8_t* out;
};

struct ComponentCodes {
    const HuffmanCodes* dc;
    const HuffmanCodes* ac;
};

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
    BitSink Suspend() { return {acc_, free_, buffer_ + used_}; }
    void Resume(const BitSink& sink) {
        acc_ = sink.acc;
        free_ = sink.free;
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

    // Ends the coded data: pads its last byte with 1 bits and hands every pending byte to the
    // buffer.
    void PadToByte();

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
    int free_ = 64;
    bool ok_ = true;
};

// What coding one MCU row needs besides its blocks.
struct RowCoding {
    const Layout* layout;
    const ComponentCodes* codes;  // per component
    int* lastDc;                  // per component, carried from row to row
};

// Codes one MCU row of blocks; the fastest this processor runs.
using EncodeFunction = void (*)(const int16_t*, const RowCoding&, EntropyWriter&);
EncodeFunction PickEncode();

// Symbol counts for fitted tables, gathered the way EncodeBlock would code the block.
struct SymbolCounts {
    std::array<uint32_t, 256> dc{};
    std::array<uint32_t, 256> ac{};
};

void CountBlock(const int16_t* zigzag, int& lastDc, SymbolCounts& counts);

}  // namespace Korvo::jpeg
