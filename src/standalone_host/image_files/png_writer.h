// The host's PNG encoder: 8-bit RGB or RGBA, rows filtered Up and deflated in bands of rows on
// several threads at once, so that writing a face does not leave the other cores idle.
#pragma once

#include <cstdio>
#include <string>

#include "standalone_host/image_files/image_file_io.h"

namespace KorvoHost::ImageFileIo {

// Bands for an image of this size on this machine: two per core, so that the cores finish
// together, but none smaller than 256 KiB of rows or, where rows allow, larger than 256 MiB.
int PngBandCount(int width, int height, int channels);

// The deflater of the bands: ISA-L's, or zlib's as the host used it before (files a fifth
// smaller, at about six times the time; kept to compare against).
enum class PngDeflate { Isal, Zlib };

// Writes the whole PNG file (signature, IHDR, sRGB, IDAT, IEND) of `rows` with `channels` (3 or
// 4) values per pixel to `file`, its rows split into `bands` bands (clamped to 1..height).
// Answers false with the problem in words; what was written is then incomplete.
bool EncodePngInBands(std::FILE* file, const RowSource& rows, int channels, int bands,
                      std::string& problem, PngDeflate deflate = PngDeflate::Isal);

}  // namespace KorvoHost::ImageFileIo
