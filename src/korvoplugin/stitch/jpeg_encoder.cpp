#include "stitch/jpeg_encoder.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "stitch/jpeg_coding_tables.h"
#include "stitch/jpeg_entropy.h"
#include "stitch/jpeg_headers.h"
#include "stitch/jpeg_kernels.h"
#include "stitch/jpeg_layout.h"
#include "stitch/jpeg_tables.h"
#include "stitch/jpeg_transform.h"

namespace Korvo {
namespace {

using namespace jpeg;

constexpr int kMaxDimension = 65535;  // the frame header has 16 bits for each side

// ---- Running the two stages ----------------------------------------------------------------

// Transforms every band and hands each band's blocks, in order, to `consume`, which answers false
// to stop. With a second core the transform runs up to kSlots bands ahead, on its own thread.
template <typename Transform, typename Consume>
void RunBands(int bands, size_t bandCoefficients, Transform&& transform, Consume&& consume) {
    constexpr int kSlots = 4;
    if (bands < 4 || std::thread::hardware_concurrency() < 2) {
        std::vector<int16_t> blocks(bandCoefficients);
        for (int band = 0; band < bands; ++band) {
            transform(band, blocks.data());
            if (!consume(blocks.data())) return;
        }
        return;
    }
    std::vector<int16_t> slots(bandCoefficients * kSlots);
    const auto slot = [&](int band) { return slots.data() + (band % kSlots) * bandCoefficients; };
    std::mutex mutex;
    std::condition_variable changed;
    int produced = 0, consumed = 0;
    bool stop = false;
    std::jthread worker([&] {
        for (int band = 0; band < bands; ++band) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || band - consumed < kSlots; });
                if (stop) return;
            }
            transform(band, slot(band));
            {
                std::lock_guard lock(mutex);
                produced = band + 1;
            }
            changed.notify_all();
        }
    });
    for (int band = 0; band < bands; ++band) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return produced > band; });
        }
        const bool more = consume(slot(band));
        {
            std::lock_guard lock(mutex);
            consumed = band + 1;
            stop = !more;
        }
        changed.notify_all();
        if (!more) return;
    }
}

bool ParamsAccepted(int width, int height, int channels, const JpegParams& params) {
    const auto subsampling = static_cast<int32_t>(params.subsampling);
    return width >= 1 && height >= 1 && width <= kMaxDimension && height <= kMaxDimension &&
           (channels == 1 || channels == 3 || channels == 4) && params.quality >= 1 &&
           params.quality <= 100 && subsampling >= 0 && subsampling <= 3;
}

}  // namespace

// ---- Band encoder ----------------------------------------------------------------------------

struct JpegBandEncoder::State {
    bool accepted = false;
    TransformSetup setup{};
    Tables tables{};
    HuffmanCodes dcCodes[2], acCodes[2];
    ComponentCodes componentCodes[3]{};
    int lastDc[3] = {};
    SymbolCounts counts[2];
    int countedDc[3] = {};
    EncodeFunction encode = PickEncode();
    std::unique_ptr<EntropyWriter> writer;

    void BuildCodes() {
        for (int t = 0; t < 2; ++t) {
            dcCodes[t] = jpeg::BuildCodes(tables.dc[t]);
            acCodes[t] = jpeg::BuildCodes(tables.ac[t]);
        }
        componentCodes[0] = {&dcCodes[0], &acCodes[0]};
        componentCodes[1] = componentCodes[2] = {&dcCodes[1], &acCodes[1]};
    }
};

struct JpegBandEncoder::Workspace::Planes : jpeg::Planes {
    using jpeg::Planes::Planes;
};

JpegBandEncoder::JpegBandEncoder(jpge::output_stream& stream, int width, int height, int channels,
                                 const JpegParams& params)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (!ParamsAccepted(width, height, channels, params)) return;
    s.accepted = true;
    s.tables.quant[0] = ScaleTable(kLuminanceQuant, params.quality);
    s.tables.quant[1] = params.noChromaDiscrimination
                            ? s.tables.quant[0]
                            : ScaleTable(kChrominanceQuant, params.quality);
    s.tables.dc[0] = kLuminanceDc;
    s.tables.ac[0] = kLuminanceAc;
    s.tables.dc[1] = kChrominanceDc;
    s.tables.ac[1] = kChrominanceAc;
    s.setup = {width,
               height,
               channels,
               params.subsampling,
               MakeLayout(width, height, params.subsampling),
               {MakeQuantizer(s.tables.quant[0]), MakeQuantizer(s.tables.quant[1])},
               &FastKernels()};
    s.BuildCodes();
    s.writer = std::make_unique<EntropyWriter>(stream);
}

JpegBandEncoder::~JpegBandEncoder() = default;

bool JpegBandEncoder::accepted() const { return state_->accepted; }
int JpegBandEncoder::bandRows() const { return state_->setup.layout.mcuHeight; }
int JpegBandEncoder::bandCount() const { return state_->setup.layout.mcuRows; }
size_t JpegBandEncoder::bandCoefficients() const {
    return state_->setup.layout.CoefficientsPerRow();
}

JpegBandEncoder::Workspace::Workspace(const JpegBandEncoder& encoder)
    : planes_(std::make_unique<Planes>(encoder.state_->setup.layout,
                                       encoder.state_->setup.subsampling)) {}
JpegBandEncoder::Workspace::~Workspace() = default;

void JpegBandEncoder::Transform(int band, const uint8_t* rows, size_t stride, Workspace& workspace,
                                int16_t* coefficients) const {
    TransformBand(state_->setup, band, rows, stride, *workspace.planes_, coefficients);
}

void JpegBandEncoder::CountSymbols(const int16_t* coefficients) {
    State& s = *state_;
    const Layout& layout = s.setup.layout;
    const size_t blocks = size_t(layout.mcusAcross) * layout.blocksPerMcu;
    for (size_t b = 0; b < blocks; ++b) {
        const int component = layout.blockComponent[b % layout.blocksPerMcu];
        CountBlock(coefficients + 64 * b, s.countedDc[component], s.counts[component != 0]);
    }
}

void JpegBandEncoder::FitTables() {
    State& s = *state_;
    for (int t = 0; t < (s.setup.layout.components == 1 ? 1 : 2); ++t) {
        s.tables.dc[t] = BuildOptimalSpec(s.counts[t].dc);
        s.tables.ac[t] = BuildOptimalSpec(s.counts[t].ac);
    }
    s.BuildCodes();
}

bool JpegBandEncoder::WriteHeaders() {
    State& s = *state_;
    const std::vector<uint8_t> headers =
        MakeHeaders(s.setup.width, s.setup.height, s.setup.layout, s.tables);
    s.writer->WriteRaw(headers.data(), headers.size());
    return s.writer->ok();
}

bool JpegBandEncoder::Encode(const int16_t* coefficients) {
    State& s = *state_;
    const RowCoding coding{&s.setup.layout, s.componentCodes, s.lastDc};
    s.encode(coefficients, coding, *s.writer);
    return s.writer->ok();
}

bool JpegBandEncoder::Finish() {
    EntropyWriter& writer = *state_->writer;
    writer.PadToByte();
    const uint8_t eoi[2] = {0xFF, 0xD9};
    writer.WriteRaw(eoi, sizeof eoi);
    return writer.Flush();
}

// ---- One-call encoding -------------------------------------------------------------------------

bool EncodeJpeg(jpge::output_stream& stream, int width, int height, int channels,
                const uint8_t* pixels, const JpegParams& params) {
    if (pixels == nullptr) return false;
    try {
        JpegBandEncoder encoder(stream, width, height, channels, params);
        if (!encoder.accepted()) return false;
        const size_t stride = size_t(width) * channels;
        JpegBandEncoder::Workspace workspace(encoder);
        const auto transform = [&](int band, int16_t* out) {
            encoder.Transform(band, pixels + size_t(band) * encoder.bandRows() * stride, stride,
                              workspace, out);
        };
        if (params.twoPass) {
            RunBands(encoder.bandCount(), encoder.bandCoefficients(), transform,
                     [&](const int16_t* blocks) {
                         encoder.CountSymbols(blocks);
                         return true;
                     });
            encoder.FitTables();
        }
        bool ok = encoder.WriteHeaders();
        RunBands(encoder.bandCount(), encoder.bandCoefficients(), transform,
                 [&](const int16_t* blocks) { return ok = ok && encoder.Encode(blocks); });
        return encoder.Finish() && ok;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::system_error&) {
        return false;  // no thread to be had
    }
}

bool WriteJpegFile(const char* fileName, int width, int height, int channels, const uint8_t* pixels,
                   const JpegParams& params) {
    jpge::cfile_stream stream;
    if (!stream.open(fileName)) return false;
    const bool encoded = EncodeJpeg(stream, width, height, channels, pixels, params);
    const bool closed = stream.close();
    return encoded && closed;
}

}  // namespace Korvo
