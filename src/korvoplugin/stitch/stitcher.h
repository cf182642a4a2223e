#pragma once

#include <cstdint>

namespace Korvo {

// Results of StitchFaceStrip and StitchFaceGrid. Missing or unreadable faces are not failures:
// their cells stay black and the image is still written.
inline constexpr uint32_t kStitchWritten = 0;     // also: face count below 1, nothing to write
inline constexpr uint32_t kStitchNotWritten = 1;  // the output file could not be created or written
inline constexpr uint32_t kStitchBadFaceCount = 2;  // more than twelve faces asked for
inline constexpr uint32_t kStitchOutOfMemory = 3;   // no memory for the image

inline constexpr uint32_t kFaceSize = 1536;  // pixels, each side of a face cell
inline constexpr int kFaceCount = 12;

// Face files in strip cell order (cell i starts at column 1536 × i) and in grid order (faces 0
// to 5 along the top row, 6 to 11 along the bottom row).
extern const char* const kStripFaceFiles[kFaceCount];
extern const char* const kGridFaceFiles[kFaceCount];

// Joins faces into one row, each mirrored left-right, and writes it to `path` (multibyte,
// null-terminated): a JPEG (4:2:0, `quality` 1 to 100) when the path ends in ".jpg" in any case,
// else a PNG. The faces are read from the path's folder (the current directory when the path
// has no folder part); the output belongs in that folder too. Face count 1 to 12.
//
// `faceDamaged`, when given, tells whether a face's image data proved damaged part-way (a cut
// stream, a bad checksum) and its cell was painted black: the image is then written but not what
// it claims, which a caller that wrote the faces itself can treat as a failure.
uint32_t StitchFaceStrip(const char* path, int32_t faceCount, int32_t quality,
                         bool* faceDamaged = nullptr);

// Joins the twelve faces into two rows of six, right eye above, none mirrored; otherwise as
// StitchFaceStrip.
uint32_t StitchFaceGrid(const char* path, int32_t quality, bool* faceDamaged = nullptr);

}  // namespace Korvo
