// Fuzz target for the PNG reader: any bytes must decode without a fault, and the rows handed out
// must stay inside what the header allows.

#include <cstddef>
#include <cstdint>
#include <span>

#include "stitch/png_reader.h"

// Keeps the reads of the delivered rows from being optimised away.
volatile uint64_t bytesSeen = 0;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    // Row by row, as the stitcher reads faces.
    Korvo::PngRowReader reader(file);
    const uint64_t stride = Korvo::PngRowStride(reader.header());
    uint64_t rows = 0, touched = 0;
    for (auto row = reader.NextRow(); !row.empty(); row = reader.NextRow()) {
        if (++rows > reader.header().height || row.size() > stride) __builtin_trap();
        for (uint8_t b : row) touched += b;  // every byte handed out must be readable
    }
    reader.Finish();
    // Whole, as ReadPngFile does; the same rows must come out. (No bytes at all is the one
    // case DecodePng answers without reading: the initial image.)
    if (size == 0) return 0;
    const Korvo::PngImage image = Korvo::DecodePng(file);
    if (image.scanlines.size() > Korvo::PngRowStride(image) * image.height) __builtin_trap();
    if (image.error != reader.error() ||
        image.scanlines.empty() != (reader.damaged() || rows == 0)) {
        __builtin_trap();
    }
    bytesSeen = bytesSeen + touched;
    return 0;
}
