// The cube path on the example room: rays per second of the standalone host's ray tracer, the six
// 1536 × 1536 faces of one camera as the renderer draws them, and one camera through the whole
// cube loop (faces, face files, stitch, move).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "korvo_plugin.h"
#include "render/face_geometry.h"
#include "shell/cube_loop.h"
#include "shell/workflow.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/raytracer/ray_tracer.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/tracer_input.h"
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
BENCHMARK(BM_SixFaces)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// One camera through the cube loop: renders, PNG face files, stitch, JPEG strip, move.
void BM_CubeLoopOneCamera(benchmark::State& state) {
    Room& room = TheRoom();
    room.app->Core().SetRenderSamples(static_cast<int>(state.range(0)));
    Korvo::KorvoPlugin& plugin = Korvo::GetKorvoPlugin();
    const fs::path work = room.folder / "host" / "korvo_scratch";
    const fs::path out = room.folder / "out";
    for (auto _ : state) {
        state.PauseTiming();
        fs::create_directories(work);
        fs::create_directories(out);
        Korvo::get_cams(plugin);
        plugin.sceneName = L"room";
        plugin.workFolder = KorvoHost::FromPath(work);
        plugin.outputFolder = KorvoHost::FromPath(out);
        for (Korvo::CameraData* camera : plugin.cameras) {
            camera->fileName = Korvo::StripFileName(plugin, camera->node);
            camera->selected = camera->node == room.camera;
        }
        state.ResumeTiming();
        if (!Korvo::RenderCubeFaces(plugin, plugin.progress)) state.SkipWithError("the run failed");
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CubeLoopOneCamera)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
