#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "stitch/jpeg_streams.h"

namespace Korvo {

enum class JpegSubsampling : int32_t {
    YOnly = 0,  // greyscale: one component
    H1V1 = 1,   // 4:4:4
    H2V1 = 2,   // 4:2:2
    H2V2 = 3,   // 4:2:0
};

struct JpegParams {
    int32_t quality = 85;  // 1 to 100
    JpegSubsampling subsampling = JpegSubsampling::H2V2;
    bool noChromaDiscrimination = false;  // chroma quantised with the luminance table
    bool twoPass = false;                 // Huffman tables fitted to the image in a first pass
};

// Writes a baseline JFIF file of `pixels` (rows top to bottom, width × channels bytes each, no
// padding; channels 1 grey, 3 RGB, 4 RGBA with alpha ignored). The file is created first, so
// refused parameters leave it behind empty. True when every byte was written and the file closed.
bool WriteJpegFile(const char* fileName, int width, int height, int channels, const uint8_t* pixels,
                   const JpegParams& params);

// The same encoding into any stream (nothing is opened or closed). False when the parameters are
// refused (width or height not 1 to 65535, channels not 1, 3 or 4, quality not 1 to 100,
// subsampling not 0 to 3), memory runs out, or the stream refuses a block.
bool EncodeJpeg(jpge::output_stream& stream, int width, int height, int channels,
                const uint8_t* pixels, const JpegParams& params);

// Encodes an image handed over in bands of MCU rows, for callers that make the pixels as they
// go. Transform may run on several threads at once, each with its own Workspace; Encode takes
// every band's coefficients in order, one call at a time.
class JpegBandEncoder {
  public:
    // Nothing is written yet; accepted() tells whether the parameters are usable.
    JpegBandEncoder(jpge::output_stream& stream, int width, int height, int channels,
                    const JpegParams& params);
    ~JpegBandEncoder();
    JpegBandEncoder(const JpegBandEncoder&) = delete;
    JpegBandEncoder& operator=(const JpegBandEncoder&) = delete;

    bool accepted() const;
    int bandRows() const;  // image rows per band: 8, or 16 for 4:2:0
    int bandCount() const;
    size_t bandCoefficients() const;  // int16 values per band

    // Scratch memory of one transforming thread.
    class Workspace {
      public:
        explicit Workspace(const JpegBandEncoder& encoder);
        ~Workspace();

      private:
        friend class JpegBandEncoder;
        struct Planes;
        std::unique_ptr<Planes> planes_;
    };

    // Colour conversion, DCT and quantisation of band `band`, whose first image row is at
    // `rows` with the next ones `stride` bytes apart. Rows below the image are not read.
    void Transform(int band, const uint8_t* rows, size_t stride, Workspace& workspace,
                   int16_t* coefficients) const;

    // Fitted Huffman tables: count every band's symbols in order, then fit, then write headers.
    void CountSymbols(const int16_t* coefficients);
    void FitTables();

    // SOI up to SOS; then every band in order; then Finish (padding, EOI). Each answers false
    // once the stream has refused a block.
    bool WriteHeaders();
    bool Encode(const int16_t* coefficients);
    bool Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Korvo
