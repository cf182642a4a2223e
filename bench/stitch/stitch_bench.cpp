// The image pipeline beside its peers, on twelve rendered-looking 1536 × 1536 faces:
//   JpegEncodeStrip  18432 × 1536 RGB, quality 100, 4:2:0 — ours vs libjpeg-turbo (accurate DCT)
//   PngDecodeFaces   the twelve faces — ours vs libpng
//   StitchStrip      the whole strip stitch — ours vs libpng + libjpeg-turbo vs OpenCV
// Run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true for paired
// medians.

#include <benchmark/benchmark.h>
#include <png.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "interior_faces.h"
#include "stitch/jpeg_encoder.h"
#include "stitch/png_reader.h"
#include "stitch/stitcher.h"

namespace Korvo::bench {
namespace {

constexpr int kStripWidth = kFaceCount * int(kFaceSize);
constexpr int kStripHeight = int(kFaceSize);

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = InteriorFaceFolder();
    return folder;
}

std::string FacePath(int cell) { return (Folder() / kStripFaceFiles[cell]).string(); }

// The strip the stitcher makes from the faces, for the encoder benchmarks.
const std::vector<uint8_t>& Strip() {
    static const std::vector<uint8_t> strip = [] {
        std::vector<uint8_t> rgb(size_t(kStripWidth) * kStripHeight * 3);
        for (int cell = 0; cell < kFaceCount; ++cell) {
            const PngImage face = ReadPngFile(FacePath(cell).c_str());
            if (face.error != PngError::None) throw std::runtime_error("unreadable face");
            const size_t stride = PngRowStride(face);
            for (uint32_t y = 0; y < kFaceSize; ++y) {
                const uint8_t* src = face.scanlines.data() + y * stride + 1;
                uint8_t* row = rgb.data() + (size_t(y) * kStripWidth + cell * kFaceSize) * 3;
                for (uint32_t x = 0; x < kFaceSize; ++x) {
                    std::memcpy(row + (kFaceSize - 1 - x) * 3, src + x * 3, 3);
                }
            }
        }
        return rgb;
    }();
    return strip;
}

// ---- JPEG encode -----------------------------------------------------------------------------

void JpegEncodeStrip_Korvo(benchmark::State& state) {
    const auto& strip = Strip();
    jpge::vector_stream stream;
    stream.bytes().reserve(64 << 20);
    for (auto _ : state) {
        stream.bytes().clear();
        const JpegParams params{100, JpegSubsampling::H2V2, false, false};
        if (!EncodeJpeg(stream, kStripWidth, kStripHeight, 3, strip.data(), params)) {
            state.SkipWithError("encode failed");
        }
    }
    state.counters["MB"] = double(stream.bytes().size()) / 1e6;
}

void JpegEncodeStrip_LibjpegTurbo(benchmark::State& state) {
    const auto& strip = Strip();
    tjhandle handle = tjInitCompress();
    unsigned long capacity = tjBufSize(kStripWidth, kStripHeight, TJSAMP_420);
    unsigned char* out = tjAlloc(int(capacity));
    unsigned long size = 0;
    for (auto _ : state) {
        size = capacity;
        if (tjCompress2(handle, strip.data(), kStripWidth, 0, kStripHeight, TJPF_RGB, &out, &size,
                        TJSAMP_420, 100, TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC) != 0) {
            state.SkipWithError(tjGetErrorStr2(handle));
        }
    }
    state.counters["MB"] = double(size) / 1e6;
    tjFree(out);
    tjDestroy(handle);
}

// ---- PNG decode ------------------------------------------------------------------------------

void PngDecodeFaces_Korvo(benchmark::State& state) {
    Folder();
    for (auto _ : state) {
        for (int cell = 0; cell < kFaceCount; ++cell) {
            const PngImage face = ReadPngFile(FacePath(cell).c_str());
            benchmark::DoNotOptimize(face.scanlines.data());
        }
    }
}

// Reads a face with libpng, handing each row to `row(y, pixels)`.
template <typename Row>
bool ReadWithLibpng(const std::string& path, std::vector<uint8_t>& buffer, Row&& row) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const uint32_t height = png_get_image_height(png, info);
    buffer.resize(png_get_rowbytes(png, info));
    for (uint32_t y = 0; y < height; ++y) {
        png_read_row(png, buffer.data(), nullptr);
        row(y, buffer.data());
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

void PngDecodeFaces_Libpng(benchmark::State& state) {
    Folder();
    std::vector<uint8_t> face(size_t(kFaceSize) * kFaceSize * 3), row;
    for (auto _ : state) {
        for (int cell = 0; cell < kFaceCount; ++cell) {
            ReadWithLibpng(FacePath(cell), row, [&](uint32_t y, const uint8_t* pixels) {
                std::memcpy(face.data() + size_t(y) * kFaceSize * 3, pixels, kFaceSize * 3);
            });
            benchmark::DoNotOptimize(face.data());
        }
    }
}

// ---- Whole stitch ----------------------------------------------------------------------------

void StitchStrip_Korvo(benchmark::State& state) {
    const std::string out = (Folder() / "bench_korvo.jpg").string();
    for (auto _ : state) {
        if (StitchFaceStrip(out.c_str(), kFaceCount, 100) != kStitchWritten) {
            state.SkipWithError("stitch failed");
        }
    }
    state.counters["MB"] = double(std::filesystem::file_size(out)) / 1e6;
}

// The same stitch from the usual libraries, written with care: rows go straight from libpng
// into the strip, mirrored, and libjpeg-turbo compresses into a buffer sized once.
void StitchStrip_LibpngTurbo(benchmark::State& state) {
    const std::string out = (Folder() / "bench_libpng_turbo.jpg").string();
    tjhandle handle = tjInitCompress();
    const unsigned long capacity = tjBufSize(kStripWidth, kStripHeight, TJSAMP_420);
    unsigned char* jpeg = tjAlloc(int(capacity));
    std::vector<uint8_t> row;
    for (auto _ : state) {
        std::vector<uint8_t> strip(size_t(kStripWidth) * kStripHeight * 3);
        for (int cell = 0; cell < kFaceCount; ++cell) {
            ReadWithLibpng(FacePath(cell), row, [&](uint32_t y, const uint8_t* pixels) {
                uint8_t* dst = strip.data() + (size_t(y) * kStripWidth + cell * kFaceSize) * 3;
                for (uint32_t x = 0; x < kFaceSize; ++x) {
                    std::memcpy(dst + (kFaceSize - 1 - x) * 3, pixels + x * 3, 3);
                }
            });
        }
        unsigned long size = capacity;
        tjCompress2(handle, strip.data(), kStripWidth, 0, kStripHeight, TJPF_RGB, &jpeg, &size,
                    TJSAMP_420, 100, TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC);
        std::FILE* file = std::fopen(out.c_str(), "wb");
        std::fwrite(jpeg, 1, size, file);
        std::fclose(file);
    }
    tjFree(jpeg);
    tjDestroy(handle);
}

void StitchStrip_OpenCV(benchmark::State& state) {
    const std::string out = (Folder() / "bench_opencv.jpg").string();
    for (auto _ : state) {
        std::vector<cv::Mat> faces;
        for (int cell = 0; cell < kFaceCount; ++cell) {
            cv::Mat face = cv::imread(FacePath(cell), cv::IMREAD_COLOR);
            cv::flip(face, face, 1);
            faces.push_back(face);
        }
        cv::Mat strip;
        cv::hconcat(faces, strip);
        cv::imwrite(out, strip, {cv::IMWRITE_JPEG_QUALITY, 100});
    }
}

BENCHMARK(JpegEncodeStrip_Korvo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JpegEncodeStrip_LibjpegTurbo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngDecodeFaces_Korvo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngDecodeFaces_Libpng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StitchStrip_Korvo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StitchStrip_LibpngTurbo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StitchStrip_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace Korvo::bench

BENCHMARK_MAIN();
