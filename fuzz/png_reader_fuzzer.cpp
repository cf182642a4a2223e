// Fuzz target for the PNG reader: any bytes must decode without a fault, and the rows handed out
// must stay inside what the header allows.

#include <cstddef>
#include <cstdint>
#include <span>

#include "stitch/png_reader.h"

// Keeps the reads of the delivered rows from being optimised away.
volatile uint64_t bytesSeen = 0;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Korvo::PngImage image;
    uint64_t touched = 0;
    const Korvo::PngRowSink onRow = [&](uint32_t row, std::span<const uint8_t> bytes) {
        if (row >= image.height || bytes.size() > Korvo::PngRowStride(image)) __builtin_trap();
        for (uint8_t b : bytes) touched += b;  // every byte handed out must be readable
    };
    Korvo::DecodePngInto({data, size}, image, onRow);
    if (image.scanlines.size() > Korvo::PngRowStride(image) * image.height) __builtin_trap();
    bytesSeen = bytesSeen + touched;
    return 0;
}
