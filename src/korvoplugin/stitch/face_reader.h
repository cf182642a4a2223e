#pragma once

// One face of a stitch: where it goes in the image, and its file read row by row.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "stitch/face_copy.h"
#include "stitch/file_handle.h"
#include "stitch/png_reader.h"
#include "stitch/stitcher.h"

namespace Korvo::stitching {

// A face cell: which file fills it and where. Cells never overlap, and a face never reaches
// past its cell.
struct Cell {
    std::string path;
    uint32_t x;  // pixels
    uint32_t y;
    bool mirror;  // left-right
};

// Bytes of one cell row: kFaceSize RGB pixels.
inline constexpr size_t kCellRowBytes = size_t{kFaceSize} * 3;

// Reads one face file row by row. A face that cannot be opened, is no PNG, or has no RGB pixels
// gives black rows; one whose image data proves damaged must be painted black as a whole, which
// the caller learns from damaged().
class FaceReader {
  public:
    // Keeps a reference to the cell.
    explicit FaceReader(const Cell& cell);

    // Writes the face's next row into a cell row of kFaceSize RGB pixels: as many pixels as the
    // row holds, the rest black. Rows past the face's last are black.
    void CopyNextRow(uint8_t* cellRow);

    // Reads the rest of the face (rows past the cell, the end of the image data) to see whether
    // the image data holds up.
    void Finish() {
        if (reader_ && samples_.pixelBytes != 0) reader_->Finish();
    }

    // The face's image data is damaged: its cell must be black throughout.
    bool damaged() const { return reader_ && samples_.pixelBytes != 0 && reader_->damaged(); }
    bool outOfMemory() const { return reader_ && reader_->outOfMemory(); }

  private:
    const Cell& cell_;
    FileHandle file_;
    std::unique_ptr<PngRowReader> reader_;
    FaceSamples samples_;
};

}  // namespace Korvo::stitching
