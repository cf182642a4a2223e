#include "stitch/band_pipeline.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "stitch/page_memory.h"
#include "stitch/stitcher.h"
#include "stitch/workers.h"

namespace Korvo::stitching {
namespace {

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
        // Decoding fills every pixel of a band and the transform every coefficient.
        pixelSlots_.resize(size_t(workers + 2));
        for (auto& slot : pixelSlots_) slot = MakeMappedBuffer<uint8_t>(bandBytes_);
        coefficientSlots_.resize(size_t(workers + 1));
        for (auto& slot : coefficientSlots_) {
            slot = MakeMappedBuffer<int16_t>(encoder.bandCoefficients());
        }
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

    uint8_t* PixelSlot(int band) { return pixelSlots_[size_t(band) % pixelSlots_.size()].get(); }
    int16_t* CoefficientSlot(int band) {
        return coefficientSlots_[size_t(band) % coefficientSlots_.size()].get();
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
    std::vector<std::unique_ptr<uint8_t[]>> pixelSlots_;
    std::vector<std::unique_ptr<int16_t[]>> coefficientSlots_;
    int coded_ = 0;
    bool coding_ = false;
    bool aborted_ = false;
    PassOutcome outcome_ = PassOutcome::Written;
    std::vector<int> damaged_;
};

}  // namespace

BandPass RunBandPass(const std::vector<Cell>& cells, const std::vector<bool>& black, uint32_t width,
                     JpegBandEncoder& encoder) {
    BandPipeline pipeline(cells, black, width, encoder);
    const PassOutcome outcome = pipeline.Run();
    return {outcome, pipeline.damagedCells()};
}

}  // namespace Korvo::stitching
