// The cube path on the example room: rays per second of the standalone host's ray tracer, the six
// 1536 × 1536 faces of one camera as the renderer draws them (mono through the camera, stereo
// through the lens shader), and one camera through each back end: the whole cube loop (faces, face
// files, stitch, move), V-Ray and Arnold (the stereo cube in one frame, written, moved or
// reordered). Beside them, the host writing those faces as PNG files, its banded writer against
// libpng as the host used it before, and the stitcher reading them back.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <filesystem>
#include <string>
#include <vector>

#include "host/maxscript.h"
#include "korvo_plugin.h"
#include "korvostereo/korvo_stereo_desc.h"
#include "render/arnold_backend.h"
#include "render/face_geometry.h"
#include "render/renderer_events.h"
#include "render/vray_backend.h"
#include "shell/cube_loop.h"
#include "shell/workflow.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/core/mental_ray_translator.h"
#include "standalone_host/image_files/image_file_io.h"
#include "standalone_host/image_files/image_files.h"
#include "standalone_host/image_files/png_writer.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/raytracer/ray_tracer.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/scene_objects.h"
#include "standalone_host/scene/tracer_input.h"
#include "stitch/png_reader.h"
#include "support/module_handle.h"

namespace {

namespace fs = std::filesystem;
constexpr int kFace = 1536;

struct Room {
    Room() {
        Korvo::SetPluginInstance(GetModuleHandleW(nullptr));
        KorvoHost::HostOptions options;
        options.tempDirectory = folder / "host";
        options.registryFile = folder / "none.json";
        app = std::make_unique<KorvoHost::HostApp>(options);
        std::string error;
        if (!app->OpenScene(fs::path(KORVO_EXAMPLES) / "room.json", &error)) std::abort();
        camera = app->Core().GetINodeByName(L"Cam_Free");
        Korvo::ProjectCamera(camera);
        Korvo::PrepareCubeCamera(camera);
    }
    ~Room() { fs::remove_all(folder); }

    fs::path folder = fs::temp_directory_path() / ("korvo-bench-" + std::to_string(::getpid()));
    std::unique_ptr<KorvoHost::HostApp> app;
    INode* camera = nullptr;
};

Room& TheRoom() {
    static Room room;
    return room;
}

KorvoHost::PinholeCamera FaceView(INode* camera, int face) {
    const Matrix3 tm = Korvo::FaceRotation(face) * camera->GetNodeTM(0);
    auto v = [](const Point3& p) { return KorvoHost::Vec3{p.x, p.y, p.z}; };
    KorvoHost::PinholeCamera view;
    view.cameraToWorld = {v(tm.GetRow(0)), v(tm.GetRow(1)), v(tm.GetRow(2)), v(tm.GetTrans())};
    view.horizontalFov = HALFPI;
    return view;
}

// Six faces drawn by the tracer, one sample per pixel (as the tests render) or 2 × 2 (as korvo
// renders by default).
void BM_SixFaces(benchmark::State& state) {
    Room& room = TheRoom();
    std::string error;
    auto tracer =
        KorvoHost::RayTracer::Create(KorvoHost::MakeTracerScene(*room.app->CurrentScene()), error);
    KorvoHost::TracerOptions options;
    options.samplesPerAxis = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> pixels(static_cast<size_t>(kFace) * kFace * 4);
    for (auto _ : state) {
        for (int face = 0; face < 6; ++face)
            tracer->Render(FaceView(room.camera, face), kFace, kFace, std::span(pixels), options);
    }
    const double cameraRays = 6.0 * kFace * kFace * options.samplesPerAxis * options.samplesPerAxis;
    state.counters["camera_rays/s"] =
        benchmark::Counter(cameraRays, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SixFaces)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The six faces of the room's camera as korvo renders them (2 × 2 samples), drawn once.
const std::vector<std::vector<std::uint8_t>>& RoomFaces() {
    static const std::vector<std::vector<std::uint8_t>> faces = [] {
        Room& room = TheRoom();
        std::string error;
        auto tracer = KorvoHost::RayTracer::Create(
            KorvoHost::MakeTracerScene(*room.app->CurrentScene()), error);
        KorvoHost::TracerOptions options;
        options.samplesPerAxis = 2;
        std::vector<std::vector<std::uint8_t>> drawn(6);
        for (int face = 0; face < 6; ++face) {
            drawn[face].resize(static_cast<size_t>(kFace) * kFace * 4);
            tracer->Render(FaceView(room.camera, face), kFace, kFace, std::span(drawn[face]),
                           options);
        }
        return drawn;
    }();
    return faces;
}

// libpng as the host wrote faces before: level 1, run-length matching, rows filtered Up.
bool LibpngWrite(png_structp png, png_infop info, std::FILE* file,
                 KorvoHost::ImageFileIo::RowSource& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(rows.Width()), png_uint_32(rows.Height()), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_write_info(png, info);
    for (int y = 0; y < rows.Height(); ++y) png_write_row(png, rows.Row(y, 4));
    png_write_end(png, info);
    return true;
}

KorvoHost::ImageFileStatus WriteThroughLibpng(const fs::path& path,
                                              const KorvoHost::ImageRgba8View& face) {
    return KorvoHost::ImageFileIo::WriteImage(
        path, KorvoHost::ImageFileIo::RowSource(face), 0x7fffffff,
        [](std::FILE* file, KorvoHost::ImageFileIo::RowSource& rows, std::string& problem) {
            png_structp png =
                png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
            png_infop info = png ? png_create_info_struct(png) : nullptr;
            const bool written = info && LibpngWrite(png, info, file, rows);
            png_destroy_write_struct(&png, &info);
            if (!written) problem = "libpng failed";
            return written;
        });
}

// The face writers compared: libpng as the host used it before, and the host's banded writer
// with zlib's deflater or with ISA-L's (the one the host uses).
enum FaceWriter { kLibpng, kBandedZlib, kBandedIsal };

KorvoHost::ImageFileStatus WriteFace(const fs::path& path, const KorvoHost::ImageRgba8View& face,
                                     int writer) {
    if (writer == kLibpng) return WriteThroughLibpng(path, face);
    const auto deflate = writer == kBandedZlib ? KorvoHost::ImageFileIo::PngDeflate::Zlib
                                               : KorvoHost::ImageFileIo::PngDeflate::Isal;
    return KorvoHost::ImageFileIo::WriteImage(
        path, KorvoHost::ImageFileIo::RowSource(face), 0x7fffffff,
        [deflate](std::FILE* file, KorvoHost::ImageFileIo::RowSource& rows, std::string& problem) {
            const int bands = KorvoHost::ImageFileIo::PngBandCount(rows.Width(), rows.Height(), 4);
            return KorvoHost::ImageFileIo::EncodePngInBands(file, rows, 4, bands, problem, deflate);
        });
}

// Writes the six faces with `writer` into `folder`; answers their bytes, or 0 with the
// benchmark stopped.
std::uintmax_t WriteSixFaces(benchmark::State& state, const fs::path& folder, int writer) {
    const auto& faces = RoomFaces();
    std::uintmax_t bytes = 0;
    for (int face = 0; face < 6; ++face) {
        const fs::path path = folder / ("face" + std::to_string(face) + ".png");
        const KorvoHost::ImageFileStatus status =
            WriteFace(path, KorvoHost::ImageRgba8View{kFace, kFace, faces[face]}, writer);
        if (!status) {
            state.SkipWithError(status.message.c_str());
            return 0;
        }
        bytes += fs::file_size(path);
    }
    return bytes;
}

// The six faces written as PNG files into the working folder, as the cube loop writes them.
void BM_SixFacePngs(benchmark::State& state) {
    RoomFaces();
    const fs::path folder = TheRoom().folder / "faces";
    fs::create_directories(folder);
    std::uintmax_t bytes = 0;
    for (auto _ : state) {
        if ((bytes = WriteSixFaces(state, folder, int(state.range(0)))) == 0) return;
    }
    state.counters["file_bytes"] = double(bytes);
}
// Each face writer, timed on the process's CPU: the writers deflate on several threads.
void EveryWriter(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("writer")
        ->Arg(kLibpng)
        ->Arg(kBandedZlib)
        ->Arg(kBandedIsal)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
}
BENCHMARK(BM_SixFacePngs)->Apply(EveryWriter);

// The same six files read back by the stitcher's reader, as the stitch reads the faces.
void BM_SixFacePngsReadBack(benchmark::State& state) {
    RoomFaces();
    const fs::path folder = TheRoom().folder / ("read-back-" + std::to_string(state.range(0)));
    fs::create_directories(folder);
    if (WriteSixFaces(state, folder, int(state.range(0))) == 0) return;
    for (auto _ : state) {
        for (int face = 0; face < 6; ++face) {
            const fs::path path = folder / ("face" + std::to_string(face) + ".png");
            const Korvo::PngImage image = Korvo::ReadPngFile(path.c_str());
            if (image.error != Korvo::PngError::None) {
                state.SkipWithError(("cannot read back " + path.string()).c_str());
                return;
            }
            benchmark::DoNotOptimize(image.scanlines.data());
        }
    }
}
BENCHMARK(BM_SixFacePngsReadBack)->Apply(EveryWriter);

// Switches the room to mental ray with the stereo lens shader set up for the left eye, and
// answers the renderer; null when the shader could not be installed.
KorvoHost::SceneRenderer* LeftEyeLensRenderer(Room& room) {
    KorvoHost::Scene& scene = *room.app->CurrentScene();
    scene.SetCurrentRenderer(KorvoHost::kMentalRayRendererClassId);
    room.app->Core().AddClass(Korvo::GetKorvoStereoDesc());
    if (!ExecuteMAXScriptScript(Korvo::kLensShaderSetupScript, TRUE, nullptr) ||
        !ExecuteMAXScriptScript(Korvo::kLeftEyeScript, TRUE, nullptr))
        return nullptr;
    return dynamic_cast<KorvoHost::SceneRenderer*>(scene.CurrentRenderer());
}

// The same six faces in stereo under mental ray: the lens shader is called for every sample and
// its rays are traced in packets (1) or one by one as it asks (0). Both eyes cost the same; this
// is one eye.
void BM_SixFacesStereo(benchmark::State& state) {
    Room& room = TheRoom();
    KorvoHost::Scene& scene = *room.app->CurrentScene();
    KorvoHost::SceneRenderer* lensRenderer = LeftEyeLensRenderer(room);
    if (!lensRenderer) {
        state.SkipWithError("the lens shader could not be installed");
        return;
    }
    KorvoHost::SceneRenderer& renderer = *lensRenderer;
    std::string error;
    auto tracer = KorvoHost::RayTracer::Create(KorvoHost::MakeTracerScene(scene), error);
    KorvoHost::TracerOptions options;
    options.samplesPerAxis = static_cast<int>(state.range(0));
    const auto mode = state.range(1) ? KorvoHost::MentalRay::TraceMode::Packets
                                     : KorvoHost::MentalRay::TraceMode::PerRay;
    const KorvoHost::RayTracer* shared = tracer.get();
    auto trace = [shared](const KorvoHost::Vec3& o, const KorvoHost::Vec3& d) {
        return shared->Trace(o, d);
    };
    std::vector<std::uint8_t> pixels(static_cast<size_t>(kFace) * kFace * 4);
    for (auto _ : state) {
        for (int face = 0; face < 6; ++face) {
            auto lens =
                KorvoHost::PrepareLensShader(renderer, FaceView(room.camera, face).cameraToWorld, 0,
                                             room.app->Core().PluginFolder(), mode, trace, error);
            if (!lens) {
                state.SkipWithError(error.c_str());
                return;
            }
            const KorvoHost::MentalRay::LensRender* shader = lens.get();
            tracer->Render(KorvoHost::RayBatchFunction(
                               [shader](KorvoHost::CameraSampleBatch& b) { shader->Samples(b); }),
                           kFace, kFace, std::span(pixels), options);
        }
    }
    scene.SetCurrentRenderer(KorvoHost::kScanlineRendererClassId);
    const double cameraRays = 6.0 * kFace * kFace * options.samplesPerAxis * options.samplesPerAxis;
    state.counters["camera_rays/s"] =
        benchmark::Counter(cameraRays, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SixFacesStereo)
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({2, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The lens shader alone, one thread: every pixel centre of one face asked for in batches as the
// tracer asks, nothing traced. Time per sample is the shader path's own cost.
void BM_LensShaderSamples(benchmark::State& state) {
    Room& room = TheRoom();
    KorvoHost::SceneRenderer* renderer = LeftEyeLensRenderer(room);
    if (!renderer) {
        state.SkipWithError("the lens shader could not be installed");
        return;
    }
    const int face = static_cast<int>(state.range(0));
    std::string error;
    auto lens = KorvoHost::PrepareLensShader(
        *renderer, FaceView(room.camera, face).cameraToWorld, 0, room.app->Core().PluginFolder(),
        KorvoHost::MentalRay::TraceMode::Packets,
        [](const KorvoHost::Vec3&, const KorvoHost::Vec3&) { return KorvoHost::TraceResult{}; },
        error);
    if (!lens) {
        state.SkipWithError(error.c_str());
        return;
    }
    KorvoHost::CameraSampleBatch batch{};
    float checksum = 0.0f;
    for (auto _ : state) {
        for (int y = 0; y < kFace; ++y) {
            for (int x = 0; x < kFace; x += KorvoHost::CameraSampleBatch::kCapacity) {
                batch.count = KorvoHost::CameraSampleBatch::kCapacity;
                for (int i = 0; i < batch.count; ++i) {
                    batch.rasterX[i] = float(x + i) + 0.5f;
                    batch.rasterY[i] = float(y) + 0.5f;
                    batch.given[i] = false;
                }
                lens->Samples(batch);
                checksum += batch.originX[0] + batch.directionZ[15];
            }
        }
    }
    benchmark::DoNotOptimize(checksum);
    lens.reset();
    room.app->CurrentScene()->SetCurrentRenderer(KorvoHost::kScanlineRendererClassId);
    state.counters["s/sample"] =
        benchmark::Counter(double(kFace) * kFace, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}
BENCHMARK(BM_LensShaderSamples)->ArgName("face")->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);

// Prepares a run of the room's camera as the workflow does, into fresh folders.
void PrepareRun(Room& room, Korvo::KorvoPlugin& plugin) {
    const fs::path work = room.folder / "host" / "korvo_scratch";
    const fs::path out = room.folder / "out";
    fs::remove_all(out);
    fs::create_directories(work);
    fs::create_directories(out);
    Korvo::get_cams(plugin);
    plugin.sceneName = L"room";
    plugin.workFolder = KorvoHost::FromPath(work);
    plugin.outputFolder = KorvoHost::FromPath(out);
    plugin.selectedCameras.SetCount(0);
    for (Korvo::CameraData* camera : plugin.cameras) {
        camera->fileName = Korvo::StripFileName(plugin, camera->node);
        camera->selected = camera->node == room.camera;
    }
    plugin.selectedCameras.Append(1, &room.camera);
}

enum Backend { kCubeLoop, kVRay, kArnold };

// One camera through a back end, at 1 or 2 × 2 samples per pixel.
void BM_OneCamera(benchmark::State& state) {
    Room& room = TheRoom();
    room.app->Core().SetRenderSamples(static_cast<int>(state.range(1)));
    const auto backend = static_cast<Backend>(state.range(0));
    KorvoHost::Scene& scene = *room.app->CurrentScene();
    scene.SetCurrentRenderer(backend == kVRay     ? KorvoHost::kVRayRendererClassId
                             : backend == kArnold ? KorvoHost::kArnoldRendererClassId
                                                  : KorvoHost::kScanlineRendererClassId);
    Korvo::KorvoPlugin& plugin = Korvo::GetKorvoPlugin();
    for (auto _ : state) {
        state.PauseTiming();
        PrepareRun(room, plugin);
        state.ResumeTiming();
        const bool done = backend == kVRay
                              ? Korvo::RenderVRayPanoramas(plugin, plugin.progress, nullptr)
                          : backend == kArnold ? Korvo::RenderArnoldPanoramas(plugin)
                                               : Korvo::RenderCubeFaces(plugin, plugin.progress);
        if (!done) state.SkipWithError("the run failed");
    }
    scene.SetCurrentRenderer(KorvoHost::kScanlineRendererClassId);
}
BENCHMARK(BM_OneCamera)
    ->ArgNames({"backend", "samples"})
    ->ArgsProduct({{kCubeLoop, kVRay, kArnold}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
