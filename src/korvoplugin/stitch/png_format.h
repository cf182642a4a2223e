#pragma once

// Pieces of the PNG file format shared by the reader and the writer.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "stitch/checksums.h"

namespace Korvo::png {

inline constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// Chunk framing around the data: length and type before, CRC after.
inline constexpr size_t kChunkOverhead = 12;
inline constexpr size_t kHeaderDataBytes = 13;

inline uint32_t LoadBe32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

inline void StoreBe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

inline bool IsType(const uint8_t* type, const char (&name)[5]) {
    return std::memcmp(type, name, 4) == 0;
}

// CRC-32 of ISO 3309 (reflected 0xEDB88320, all-ones start, final complement) over the chunk's
// type and data, which lie next to each other.
inline uint32_t ChunkCrc(const uint8_t* typeAndData, size_t dataBytes) {
    return Crc32(0, typeAndData, dataBytes + 4);
}

}  // namespace Korvo::png
