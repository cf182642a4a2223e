#pragma once

// The PNG format's checksum, vectorised where the processor allows.

#include <cstddef>
#include <cstdint>

namespace Korvo {

// CRC-32 of ISO 3309 continued over `size` bytes: the same value as zlib's crc32, whose running
// value for no bytes is 0.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace Korvo
