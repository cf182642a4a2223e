#include "stitch/stitcher.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "stitch/file_handle.h"
#include "stitch/jpeg_encoder.h"
#include "stitch/pixel_image.h"
#include "stitch/png_reader.h"
#include "stitch/png_writer.h"

namespace Korvo {

const char* const kStripFaceFiles[kFaceCount] = {
    "right_image_left.png",   "left_image_left.png",  "top_image_left.png",
    "bottom_image_left.png",  "back_image_left.png",  "front_image_left.png",
    "right_image_right.png",  "left_image_right.png", "top_image_right.png",
    "bottom_image_right.png", "back_image_right.png", "front_image_right.png",
};

const char* const kGridFaceFiles[kFaceCount] = {
    "right_image_right.png", "back_image_right.png",   "left_image_right.png",
    "front_image_right.png", "bottom_image_right.png", "top_image_right.png",
    "right_image_left.png",  "back_image_left.png",    "left_image_left.png",
    "front_image_left.png",  "bottom_image_left.png",  "top_image_left.png",
};

namespace {

constexpr int kMaxWorkers = 4;
constexpr size_t kCellRowBytes = size_t{kFaceSize} * 3;

// Everything up to and including the last '/' or '\'; empty when there is none.
std::string FaceFolder(std::string_view path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? std::string()
                                               : std::string(path.substr(0, separator + 1));
}

bool EndsWithJpg(std::string_view path) {
    constexpr std::string_view kSuffix = ".jpg";
    if (path.size() < kSuffix.size()) return false;
    const std::string_view tail = path.substr(path.size() - kSuffix.size());
    return std::equal(tail.begin(), tail.end(), kSuffix.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
    });
}

unsigned WorkerCount(size_t jobs) {
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    return unsigned(std::min<size_t>({cores, size_t(kMaxWorkers), std::max<size_t>(jobs, 1)}));
}

// Runs `work` on up to `workers` threads, the caller's included; joins them before returning.
template <typename Work>
void RunOnWorkers(unsigned workers, Work&& work) {
    std::vector<std::jthread> helpers;
    try {
        for (unsigned w = 1; w < workers; ++w) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than hoped for: the ones running share the work.
    }
    work();
}

// ---- One face ----------------------------------------------------------------------------------

// A face cell: which file fills it and where. Cells never overlap, and a face never reaches
// past its cell.
struct Cell {
    std::string path;
    uint32_t x;  // pixels
    uint32_t y;
    bool mirror;  // left-right
};

// How a face row's samples map to RGB: pixel size in bytes, and the step between channels
// (2 for 16-bit samples, whose high byte comes first). No pixels for other colour types.
struct FaceSamples {
    uint32_t pixelBytes = 0;
    uint32_t sampleBytes = 0;
};

FaceSamples SamplesOf(const PngImage& face) {
    if (face.bitDepth != 8 && face.bitDepth != 16) return {};
    const uint32_t sampleBytes = face.bitDepth / 8;
    if (face.colorType == 2) return {3 * sampleBytes, sampleBytes};
    if (face.colorType == 6) return {4 * sampleBytes, sampleBytes};
    return {};
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAS_SSSE3 1

// Byte shuffles that reverse the order of 16 RGB pixels (48 bytes): output byte j is input byte
// 45 − 3⌊j ÷ 3⌋ + j mod 3. For each 16-byte output block and input block, the input bytes it
// takes, or 0x80 (none).
struct MirrorMasks {
    alignas(16) int8_t mask[3][3][16];
};

constexpr MirrorMasks MakeMirrorMasks() {
    MirrorMasks m{};
    for (int out = 0; out < 3; ++out) {
        for (int in = 0; in < 3; ++in) {
            for (int k = 0; k < 16; ++k) {
                const int j = 16 * out + k;
                const int from = 45 - 3 * (j / 3) + j % 3;
                m.mask[out][in][k] = int8_t(from / 16 == in ? from % 16 : 0x80);
            }
        }
    }
    return m;
}

constexpr MirrorMasks kMirrorMasks = MakeMirrorMasks();

// Mirrors `count` RGB pixels from `src` into the cell row (pixel j to kFaceSize − 1 − j), 16 at
// a time; answers how many it did.
[[gnu::target("ssse3")]] size_t MirrorRgbSsse3(const uint8_t* src, size_t count, uint8_t* cellRow) {
    __m128i masks[3][3];
    for (int o = 0; o < 3; ++o) {
        for (int i = 0; i < 3; ++i) {
            masks[o][i] = _mm_load_si128(reinterpret_cast<const __m128i*>(kMirrorMasks.mask[o][i]));
        }
    }
    const size_t blocks = count / 16;
    for (size_t b = 0; b < blocks; ++b) {
        const __m128i in[3] = {
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 * b)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 * b + 16)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 * b + 32))};
        // Pixels 16b … 16b + 15 land at kFaceSize − 16 − 16b onwards, reversed.
        uint8_t* dst = cellRow + (kFaceSize - 16 * (b + 1)) * 3;
        for (int o = 0; o < 3; ++o) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], masks[o][0]),
                                                        _mm_shuffle_epi8(in[1], masks[o][1])),
                                           _mm_shuffle_epi8(in[2], masks[o][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * o), v);
        }
    }
    return blocks * 16;
}
#endif

template <uint32_t PixelBytes, uint32_t SampleBytes, bool Mirror>
void CopyPixels(const uint8_t* src, size_t count, uint8_t* cellRow) {
    if constexpr (PixelBytes == 3 && !Mirror) {
        std::memcpy(cellRow, src, count * 3);
        return;
    }
    size_t j = 0;
#if KORVO_HAS_SSSE3
    if constexpr (PixelBytes == 3) {
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
        if (ssse3) j = MirrorRgbSsse3(src, count, cellRow);
    }
#endif
    for (; j < count; ++j) {
        const uint8_t* p = src + j * PixelBytes;
        uint8_t* dst = cellRow + 3 * (Mirror ? kFaceSize - 1 - j : j);
        dst[0] = p[0];
        dst[1] = p[SampleBytes];
        dst[2] = p[2 * SampleBytes];
    }
}

template <bool Mirror>
void CopyPixels(const FaceSamples& samples, const uint8_t* src, size_t count, uint8_t* cellRow) {
    switch (samples.pixelBytes) {
        case 3:
            return CopyPixels<3, 1, Mirror>(src, count, cellRow);
        case 4:
            return CopyPixels<4, 1, Mirror>(src, count, cellRow);
        case 6:
            return CopyPixels<6, 2, Mirror>(src, count, cellRow);
        default:
            return CopyPixels<8, 2, Mirror>(src, count, cellRow);
    }
}

// Reads one face file row by row. A face that cannot be opened, is no PNG, or has no RGB pixels
// gives black rows; one whose image data proves damaged must be painted black as a whole, which
// the caller learns from damaged().
class FaceReader {
  public:
    explicit FaceReader(const Cell& cell) : cell_(cell) {
        file_ = OpenFile(cell.path.c_str(), "rb");
        if (!file_) return;
        reader_ = std::make_unique<PngRowReader>(file_.get());
        samples_ = SamplesOf(reader_->header());
    }

    // Writes the face's next row into a cell row of kFaceSize RGB pixels: as many pixels as the
    // row holds, the rest black. Rows past the face's last are black.
    void CopyNextRow(uint8_t* cellRow) {
        size_t count = 0;
        if (samples_.pixelBytes != 0) {
            const auto row = reader_->NextRow();
            if (!row.empty()) {
                count = std::min<size_t>(
                    {(row.size() - 1) / samples_.pixelBytes, reader_->header().width, kFaceSize});
                if (cell_.mirror)
                    CopyPixels<true>(samples_, row.data() + 1, count, cellRow);
                else
                    CopyPixels<false>(samples_, row.data() + 1, count, cellRow);
            }
        }
        const size_t black = (kFaceSize - count) * 3;
        std::memset(cell_.mirror ? cellRow : cellRow + count * 3, 0, black);
    }

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

// ---- JPEG output: faces streamed into bands ------------------------------------------------
//
// The image is never held whole. It is cut into bands of 16 rows (the encoder's MCU rows);
// every band lies within one row of cells. Work comes in units: decoding the 16 rows of one face
// into a band buffer, transforming a full band into coefficients, and entropy-coding the bands
// in order. Idle workers take the unit that keeps the coder busiest: the next band to code, then
// the next band to transform, then the earliest rows to decode.

enum class PassOutcome { Written, FaceDamaged, NotWritten, OutOfMemory };

class BandPipeline {
  public:
    BandPipeline(const std::vector<Cell>& cells, const std::vector<bool>& black, uint32_t width,
                 JpegBandEncoder& encoder)
        : cells_(cells), black_(black), width_(width), encoder_(encoder) {
        const unsigned workers = WorkerCount(cells.size());
        workers_ = workers;
        bandRows_ = encoder.bandRows();
        bandBytes_ = size_t(bandRows_) * width * 3;
        bands_.resize(size_t(encoder.bandCount()));
        const int bandsPerCellRow = int(kFaceSize) / bandRows_;
        for (int band = 0; band < int(bands_.size()); ++band) {
            const uint32_t y = uint32_t(band * bandRows_);
            for (size_t c = 0; c < cells.size(); ++c) {
                if (cells[c].y <= y && y < cells[c].y + kFaceSize)
                    bands_[band].cells.push_back(int(c));
            }
            bands_[band].pending = int(bands_[band].cells.size());
            if (bands_[band].pending == 0) bands_[band].state = BandState::Decoded;
        }
        faces_.resize(cells.size());
        for (size_t c = 0; c < cells.size(); ++c) {
            faces_[c].nextBand = int(cells[c].y / uint32_t(bandRows_));
            faces_[c].endBand = faces_[c].nextBand + bandsPerCellRow;
        }
        pixelSlots_.assign(size_t(workers + 2), std::vector<uint8_t>(bandBytes_));
        coefficientSlots_.assign(size_t(workers + 1),
                                 std::vector<int16_t>(encoder.bandCoefficients()));
    }

    PassOutcome Run() {
        RunOnWorkers(workers_, [this] { Work(); });
        return outcome_;
    }

    // Cells whose faces proved damaged in this pass.
    const std::vector<int>& damagedCells() const { return damaged_; }

  private:
    enum class BandState { Decoding, Decoded, Transforming, Transformed, Coding, Coded };

    struct Band {
        std::vector<int> cells;  // cells whose rows make up the band
        int pending = 0;         // of them not yet decoded
        BandState state = BandState::Decoding;
    };

    struct Face {
        std::unique_ptr<FaceReader> reader;
        int nextBand = 0;  // the band its next rows go to
        int endBand = 0;
        bool busy = false;
    };

    struct Unit {
        enum class Kind { None, Decode, Transform, Code } kind = Kind::None;
        int band = 0;
        int cell = 0;
    };

    void Work() {
        std::unique_ptr<JpegBandEncoder::Workspace> workspace;
        std::unique_lock lock(mutex_);
        for (;;) {
            Unit unit;
            changed_.wait(
                lock, [&] { return Finished() || (unit = PickUnit()).kind != Unit::Kind::None; });
            if (Finished()) return;
            lock.unlock();
            bool ok = true;
            try {
                ok = RunUnit(unit, workspace);
            } catch (const std::bad_alloc&) {
                ok = false;
                lock.lock();
                Abort(PassOutcome::OutOfMemory);
                lock.unlock();
            }
            lock.lock();
            Complete(unit, ok);
            changed_.notify_all();
        }
    }

    bool Finished() const { return aborted_ || coded_ == int(bands_.size()); }

    bool PixelSlotFree(int band) const {
        const int previous = band - int(pixelSlots_.size());
        return previous < 0 || bands_[previous].state >= BandState::Transformed;
    }

    Unit PickUnit() {
        if (!coding_ && coded_ < int(bands_.size()) &&
            bands_[coded_].state == BandState::Transformed) {
            bands_[coded_].state = BandState::Coding;
            coding_ = true;
            return {Unit::Kind::Code, coded_, 0};
        }
        // Coefficient slots hold the bands between the coder and the transform.
        const int transformLimit =
            std::min(int(bands_.size()), coded_ + int(coefficientSlots_.size()));
        for (int band = coded_; band < transformLimit; ++band) {
            if (bands_[band].state == BandState::Decoded) {
                bands_[band].state = BandState::Transforming;
                return {Unit::Kind::Transform, band, 0};
            }
        }
        Unit best;
        for (size_t c = 0; c < faces_.size(); ++c) {
            const Face& face = faces_[c];
            if (face.busy || face.nextBand >= face.endBand || !PixelSlotFree(face.nextBand))
                continue;
            if (best.kind == Unit::Kind::None || face.nextBand < best.band) {
                best = {Unit::Kind::Decode, face.nextBand, int(c)};
            }
        }
        if (best.kind == Unit::Kind::Decode) faces_[best.cell].busy = true;
        return best;
    }

    bool RunUnit(const Unit& unit, std::unique_ptr<JpegBandEncoder::Workspace>& workspace) {
        switch (unit.kind) {
            case Unit::Kind::Decode:
                return Decode(unit.band, unit.cell);
            case Unit::Kind::Transform:
                if (!workspace) workspace = std::make_unique<JpegBandEncoder::Workspace>(encoder_);
                encoder_.Transform(unit.band, PixelSlot(unit.band), size_t(width_) * 3, *workspace,
                                   CoefficientSlot(unit.band));
                return true;
            case Unit::Kind::Code:
                return encoder_.Encode(CoefficientSlot(unit.band));
            case Unit::Kind::None:
                return true;
        }
        return true;
    }

    // The band's rows of one face, into the band's pixel slot.
    bool Decode(int band, int cell) {
        Face& face = faces_[cell];  // busy: no other thread touches it
        const Cell& where = cells_[cell];
        if (!face.reader && !black_[cell]) face.reader = std::make_unique<FaceReader>(where);
        uint8_t* rows = PixelSlot(band) + size_t(where.x) * 3;
        const size_t stride = size_t(width_) * 3;
        for (int r = 0; r < bandRows_; ++r) {
            if (face.reader)
                face.reader->CopyNextRow(rows + r * stride);
            else
                std::memset(rows + r * stride, 0, kCellRowBytes);
        }
        if (face.reader && band + 1 == face.endBand) face.reader->Finish();
        return !(face.reader && face.reader->damaged());
    }

    void Complete(const Unit& unit, bool ok) {
        Band& band = bands_[unit.band];
        switch (unit.kind) {
            case Unit::Kind::Decode: {
                Face& face = faces_[unit.cell];
                face.busy = false;
                ++face.nextBand;
                if (!ok) {
                    damaged_.push_back(unit.cell);
                    Abort(face.reader && face.reader->outOfMemory() ? PassOutcome::OutOfMemory
                                                                    : PassOutcome::FaceDamaged);
                }
                if (face.nextBand == face.endBand) face.reader.reset();  // frees its buffers
                if (--band.pending == 0) band.state = BandState::Decoded;
                break;
            }
            case Unit::Kind::Transform:
                band.state = BandState::Transformed;
                break;
            case Unit::Kind::Code:
                band.state = BandState::Coded;
                coding_ = false;
                ++coded_;
                if (!ok) Abort(PassOutcome::NotWritten);
                break;
            case Unit::Kind::None:
                break;
        }
    }

    void Abort(PassOutcome outcome) {
        if (!aborted_) outcome_ = outcome;
        aborted_ = true;
    }

    uint8_t* PixelSlot(int band) { return pixelSlots_[size_t(band) % pixelSlots_.size()].data(); }
    int16_t* CoefficientSlot(int band) {
        return coefficientSlots_[size_t(band) % coefficientSlots_.size()].data();
    }

    const std::vector<Cell>& cells_;
    const std::vector<bool>& black_;
    uint32_t width_;
    JpegBandEncoder& encoder_;
    unsigned workers_ = 1;
    int bandRows_ = 16;
    size_t bandBytes_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Band> bands_;
    std::vector<Face> faces_;
    std::vector<std::vector<uint8_t>> pixelSlots_;
    std::vector<std::vector<int16_t>> coefficientSlots_;
    int coded_ = 0;
    bool coding_ = false;
    bool aborted_ = false;
    PassOutcome outcome_ = PassOutcome::Written;
    std::vector<int> damaged_;
};

// Reads every face not yet known to be black to its end; marks the damaged ones black.
void FindDamagedFaces(const std::vector<Cell>& cells, std::vector<bool>& black) {
    std::atomic<size_t> next{0};
    std::vector<uint8_t> damaged(cells.size(), 0);
    RunOnWorkers(WorkerCount(cells.size()), [&] {
        std::vector<uint8_t> row(kCellRowBytes);
        for (size_t c = next++; c < cells.size(); c = next++) {
            if (black[c]) continue;
            try {
                FaceReader face(cells[c]);
                for (uint32_t r = 0; r < kFaceSize; ++r) face.CopyNextRow(row.data());
                face.Finish();
                damaged[c] = face.damaged();
            } catch (const std::bad_alloc&) {
                damaged[c] = 1;
            }
        }
    });
    for (size_t c = 0; c < cells.size(); ++c) {
        if (damaged[c]) black[c] = true;
    }
}

uint32_t StitchJpeg(const char* path, const std::vector<Cell>& cells, uint32_t width,
                    uint32_t height, int32_t quality) {
    std::vector<bool> black(cells.size(), false);
    // A face found damaged part-way means the rows already written were wrong: start again
    // with that face black. After the first such pass every face is checked, so a second pass
    // is the last (unless files change meanwhile).
    for (size_t attempt = 0; attempt <= cells.size(); ++attempt) {
        jpge::cfile_stream stream;
        if (!stream.open(path)) return kStitchNotWritten;
        const JpegParams params{quality, JpegSubsampling::H2V2, false, false};
        JpegBandEncoder encoder(stream, int(width), int(height), 3, params);
        if (!encoder.accepted()) {
            stream.close();
            return kStitchNotWritten;
        }
        if (!encoder.WriteHeaders()) return kStitchNotWritten;
        BandPipeline pipeline(cells, black, width, encoder);
        const PassOutcome outcome = pipeline.Run();
        switch (outcome) {
            case PassOutcome::Written:
                return encoder.Finish() && stream.close() ? kStitchWritten : kStitchNotWritten;
            case PassOutcome::NotWritten:
                return kStitchNotWritten;
            case PassOutcome::OutOfMemory:
                return kStitchOutOfMemory;
            case PassOutcome::FaceDamaged:
                for (int cell : pipeline.damagedCells()) black[size_t(cell)] = true;
                if (attempt == 0) FindDamagedFaces(cells, black);
                break;
        }
    }
    return kStitchNotWritten;
}

// ---- PNG output: the whole image in memory -------------------------------------------------

uint32_t StitchPng(const char* path, const std::vector<Cell>& cells, uint32_t width,
                   uint32_t height) {
    PixelImage image = MakeBlackImage(width, height);
    const size_t stride = image.RowBytes();
    std::atomic<size_t> next{0};
    RunOnWorkers(WorkerCount(cells.size()), [&] {
        for (size_t c = next++; c < cells.size(); c = next++) {
            uint8_t* cell = image.pixels.data() + cells[c].y * stride + size_t(cells[c].x) * 3;
            bool damaged = true;
            try {
                FaceReader face(cells[c]);
                for (uint32_t r = 0; r < kFaceSize; ++r) face.CopyNextRow(cell + r * stride);
                face.Finish();
                damaged = face.damaged();
            } catch (const std::bad_alloc&) {
            }
            if (damaged) {
                for (uint32_t r = 0; r < kFaceSize; ++r)
                    std::memset(cell + r * stride, 0, kCellRowBytes);
            }
        }
    });
    const std::vector<uint8_t> png = EncodePng(image);
    if (png.empty()) return kStitchNotWritten;
    FileHandle file = OpenFile(path, "wb");
    if (!file) return kStitchNotWritten;
    const bool written = std::fwrite(png.data(), 1, png.size(), file.get()) == png.size();
    return CloseFile(file) && written ? kStitchWritten : kStitchNotWritten;
}

uint32_t Stitch(const char* path, const std::vector<Cell>& cells, uint32_t width, uint32_t height,
                int32_t quality) {
    try {
        return EndsWithJpg(path) ? StitchJpeg(path, cells, width, height, quality)
                                 : StitchPng(path, cells, width, height);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    } catch (const std::exception&) {
        return kStitchNotWritten;
    }
}

}  // namespace

uint32_t StitchFaceStrip(const char* path, int32_t faceCount, int32_t quality) {
    if (path == nullptr) return kStitchNotWritten;
    if (faceCount < 1) return kStitchWritten;  // an empty image: nothing to write
    if (faceCount > kFaceCount) return kStitchBadFaceCount;
    try {
        const std::string folder = FaceFolder(path);
        std::vector<Cell> cells;
        for (int face = 0; face < faceCount; ++face) {
            cells.push_back({folder + kStripFaceFiles[face], uint32_t(face) * kFaceSize, 0, true});
        }
        return Stitch(path, cells, uint32_t(faceCount) * kFaceSize, kFaceSize, quality);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    }
}

uint32_t StitchFaceGrid(const char* path, int32_t quality) {
    if (path == nullptr) return kStitchNotWritten;
    try {
        const std::string folder = FaceFolder(path);
        std::vector<Cell> cells;
        for (int face = 0; face < kFaceCount; ++face) {
            cells.push_back({folder + kGridFaceFiles[face], uint32_t(face % 6) * kFaceSize,
                             uint32_t(face / 6) * kFaceSize, false});
        }
        return Stitch(path, cells, 6 * kFaceSize, 2 * kFaceSize, quality);
    } catch (const std::bad_alloc&) {
        return kStitchOutOfMemory;
    }
}

}  // namespace Korvo
