// Speed of the standalone host's ray tracer on a furnished room in centimetres: rays per second
// at 1536 × 1536, and one camera's six cube faces. Every camera ray here also casts a shadow ray
// to each of the two lights (1.97 to 2.00 per pixel on every face), so the rays traced are three
// times the "primary rays/s" counter.
//
// Beside the tracer, on one thread each, runs the loop it is measured against: Embree's 16-wide
// packets over 4 × 4 pixel blocks casting the same camera and shadow rays, with nothing around
// them but the arithmetic that forms the rays.
#include <benchmark/benchmark.h>
#include <embree3/rtcore.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "standalone_host/raytracer/embree_scene.h"
#include "standalone_host/raytracer/primitives.h"
#include "standalone_host/raytracer/ray_tracer.h"

namespace KorvoHost {
namespace {

constexpr int kFace = 1536;

void Add(TracerScene& scene, TriangleMesh mesh, Rgb color, Vec3 at) {
    Transform move;
    move.position = at;
    scene.meshes.push_back(PlaceMesh(std::move(mesh), move));
    scene.meshes.back().color = color;
}

// A camera at `position` looking along `forward` with image up along `up`.
PinholeCamera Looking(Vec3 position, Vec3 forward, Vec3 up) {
    PinholeCamera camera;
    camera.cameraToWorld.z = -forward;
    camera.cameraToWorld.y = up;
    camera.cameraToWorld.x = Cross(up, -forward);
    camera.cameraToWorld.position = position;
    return camera;
}

// 6 m × 5 m × 2.8 m: six walls of six colours, a table with a lamp and a bowl, boxes, balls.
TracerScene FurnishedRoom() {
    TracerScene scene;
    const float w = 600, l = 500, h = 280;
    // Walls are boxes 10 cm thick around the inside of the room.
    Add(scene, MakeBox(w, l, 10), {0.55f, 0.45f, 0.35f}, {0, 0, -10});
    Add(scene, MakeBox(w, l, 10), {0.95f, 0.95f, 0.92f}, {0, 0, h});
    Add(scene, MakeBox(10, l, h), {0.75f, 0.25f, 0.2f}, {w / 2 + 5, 0, 0});
    Add(scene, MakeBox(10, l, h), {0.2f, 0.45f, 0.75f}, {-w / 2 - 5, 0, 0});
    Add(scene, MakeBox(w, 10, h), {0.3f, 0.65f, 0.3f}, {0, l / 2 + 5, 0});
    Add(scene, MakeBox(w, 10, h), {0.85f, 0.75f, 0.3f}, {0, -l / 2 - 5, 0});

    const Rgb wood{0.45f, 0.28f, 0.15f};
    Add(scene, MakeBox(160, 90, 5), wood, {80, 60, 72});
    for (const float x : {10.0f, 150.0f}) {
        for (const float y : {20.0f, 100.0f}) Add(scene, MakeBox(6, 6, 72), wood, {x, y, 0});
    }
    Add(scene, MakeSphere(18, 48), {0.85f, 0.85f, 0.8f}, {40, 60, 95});
    Add(scene, MakeSphere(10, 32), {0.8f, 0.1f, 0.1f}, {110, 50, 87});
    Add(scene, MakeBox(60, 40, 50), {0.3f, 0.3f, 0.35f}, {-200, 150, 0});
    Add(scene, MakeBox(40, 40, 40), {0.6f, 0.5f, 0.2f}, {-200, 150, 50});
    Add(scene, MakeBox(80, 50, 200), {0.4f, 0.25f, 0.2f}, {230, -180, 0});
    Add(scene, MakeSphere(25, 48), {0.2f, 0.5f, 0.8f}, {-120, -120, 25});
    Add(scene, MakeSphere(15, 32), {0.9f, 0.6f, 0.1f}, {-60, -160, 15});
    Add(scene, MakePlane(200, 140, 20, 14), {0.5f, 0.15f, 0.2f}, {-40, -20, 0.5f});

    scene.pointLights.push_back(
        {.position = {0, 0, 260}, .intensity = 1.2f, .falloffDistance = 400});
    scene.pointLights.push_back({.position = {-220, -150, 200},
                                 .color = {1.0f, 0.85f, 0.7f},
                                 .intensity = 0.8f,
                                 .falloffDistance = 300});
    scene.ambient = {0.25f, 0.25f, 0.27f};
    scene.background = {0, 0, 0};
    return scene;
}

const Vec3 kEye{-30, -40, 160};

const RayTracer& Tracer() {
    static const std::unique_ptr<RayTracer> tracer = [] {
        std::string error;
        auto built = RayTracer::Create(FurnishedRoom(), error);
        if (!built) {
            std::fprintf(stderr, "cannot build the room: %s\n", error.c_str());
            std::exit(1);
        }
        return built;
    }();
    return *tracer;
}

const PinholeCamera kView = Looking(kEye, {0.8f, 0.6f, 0}, {0, 0, 1});

void RenderFaces(benchmark::State& state, std::span<const TracerCamera> faces) {
    const RayTracer& tracer = Tracer();
    std::vector<std::uint8_t> pixels(std::size_t(kFace) * kFace * 4);
    for (auto _ : state) {
        for (const TracerCamera& face : faces) {
            if (!tracer.Render(face, kFace, kFace, pixels)) state.SkipWithError("render failed");
        }
    }
    state.counters["primary rays/s"] =
        benchmark::Counter(double(faces.size()) * kFace * kFace * double(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void RenderRoom(benchmark::State& state) {
    const TracerCamera view = kView;
    RenderFaces(state, {&view, 1});
}
BENCHMARK(RenderRoom)->Unit(benchmark::kMillisecond)->UseRealTime();

// One frame of the room on one thread, for the comparison with the plain packet loop below.
void RenderRoomOneThread(benchmark::State& state) {
    const RayTracer& tracer = Tracer();
    std::vector<std::uint8_t> pixels(std::size_t(kFace) * kFace * 4);
    const TracerOptions options{.threadCount = 1};
    for (auto _ : state) {
        if (!tracer.Render(kView, kFace, kFace, pixels, options)) state.SkipWithError("failed");
    }
    state.counters["primary rays/s"] = benchmark::Counter(
        double(kFace) * kFace * double(state.iterations()), benchmark::Counter::kIsRate);
}
// CPU time is the process's, the worker thread's included: on a busy machine compare that column.
BENCHMARK(RenderRoomOneThread)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The peer: the same camera rays, 16 to a packet, and from every hit a shadow ray to each light
// on the side the surface is seen from, 16 to a packet per light.
void PlainEmbreePackets(benchmark::State& state) {
    const TracerScene room = FurnishedRoom();
    std::string error;
    const std::unique_ptr<EmbreeScene> embree = EmbreeScene::Build(room.meshes, error);
    if (!embree) {
        state.SkipWithError(error.c_str());
        return;
    }
    const RTCScene scene = embree->Handle();
    const Transform& t = kView.cameraToWorld;
    const float half = std::tan(kView.horizontalFov * 0.5f);
    const Vec3 right = t.x * half, up = t.y * half, forward = -t.z;
    std::int64_t shadowRays = 0, lit = 0;

    for (auto _ : state) {
        for (int by = 0; by < kFace; by += 4) {
            for (int bx = 0; bx < kFace; bx += 4) {
                RTCRayHit16 rays;
                alignas(64) int valid[16];
                for (int k = 0; k < 16; ++k) {
                    const float u = (float(bx + k % 4) + 0.5f) * (2.0f / kFace) - 1.0f;
                    const float v = (float(kFace - by - k / 4) - 0.5f) * (2.0f / kFace) - 1.0f;
                    const Vec3 d = Normalize(u * right + v * up + forward);
                    rays.ray.org_x[k] = t.position.x;
                    rays.ray.org_y[k] = t.position.y;
                    rays.ray.org_z[k] = t.position.z;
                    rays.ray.dir_x[k] = d.x;
                    rays.ray.dir_y[k] = d.y;
                    rays.ray.dir_z[k] = d.z;
                    rays.ray.tnear[k] = 0.0f;
                    rays.ray.tfar[k] = INFINITY;
                    rays.ray.time[k] = 0.0f;
                    rays.ray.mask[k] = ~0u;
                    rays.ray.id[k] = 0;
                    rays.ray.flags[k] = 0;
                    rays.hit.geomID[k] = RTC_INVALID_GEOMETRY_ID;
                    rays.hit.instID[0][k] = RTC_INVALID_GEOMETRY_ID;
                    valid[k] = -1;
                }
                RTCIntersectContext context;
                rtcInitIntersectContext(&context);
                context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
                rtcIntersect16(valid, scene, &context, &rays);

                Vec3 points[16], normals[16];
                for (int k = 0; k < 16; ++k) {
                    valid[k] = rays.hit.geomID[k] != RTC_INVALID_GEOMETRY_ID ? -1 : 0;
                    const Vec3 d{rays.ray.dir_x[k], rays.ray.dir_y[k], rays.ray.dir_z[k]};
                    points[k] = Vec3{rays.ray.org_x[k], rays.ray.org_y[k], rays.ray.org_z[k]} +
                                d * rays.ray.tfar[k];
                    normals[k] = Normalize({rays.hit.Ng_x[k], rays.hit.Ng_y[k], rays.hit.Ng_z[k]});
                    if (Dot(normals[k], d) > 0.0f) normals[k] = -normals[k];
                }
                for (const PointLight& light : room.pointLights) {
                    RTCRay16 shadows;
                    alignas(64) int shadowValid[16];
                    for (int k = 0; k < 16; ++k) {
                        Vec3 toLight = light.position - points[k];
                        const float distance = Length(toLight);
                        toLight = toLight * (1.0f / distance);
                        shadowValid[k] = valid[k] && Dot(toLight, normals[k]) > 0.0f ? -1 : 0;
                        const Vec3 from = points[k] + normals[k] * 0.01f;
                        shadows.org_x[k] = from.x;
                        shadows.org_y[k] = from.y;
                        shadows.org_z[k] = from.z;
                        shadows.dir_x[k] = toLight.x;
                        shadows.dir_y[k] = toLight.y;
                        shadows.dir_z[k] = toLight.z;
                        shadows.tnear[k] = 0.0f;
                        shadows.tfar[k] = distance - 0.02f;
                        shadows.time[k] = 0.0f;
                        shadows.mask[k] = ~0u;
                        shadows.id[k] = 0;
                        shadows.flags[k] = 0;
                        shadowRays += shadowValid[k] != 0;
                    }
                    rtcInitIntersectContext(&context);
                    rtcOccluded16(shadowValid, scene, &context, &shadows);
                    for (int k = 0; k < 16; ++k) lit += shadowValid[k] && shadows.tfar[k] >= 0.0f;
                }
            }
        }
    }
    benchmark::DoNotOptimize(lit);
    state.counters["primary rays/s"] = benchmark::Counter(
        double(kFace) * kFace * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["shadow rays per pixel"] =
        double(shadowRays) / (double(kFace) * kFace * double(state.iterations()));
}
BENCHMARK(PlainEmbreePackets)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The lens-shader path: every pixel traced by the caller through Trace, one ray at a time.
void RenderRoomThroughTrace(benchmark::State& state) {
    const TracerCamera lens = RayFunction([](float x, float y) {
        const Ray ray = PinholeRay(kView, kFace, kFace, x, y);
        return CameraSample(Tracer().Trace(ray.origin, ray.direction).color);
    });
    RenderFaces(state, {&lens, 1});
}
BENCHMARK(RenderRoomThroughTrace)->Unit(benchmark::kMillisecond)->UseRealTime();

// Six 90-degree faces from one camera into 8-bit bitmaps, as the cube loop renders them.
void CubeFaces(benchmark::State& state) {
    const Vec3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    const TracerCamera faces[6] = {
        Looking(kEye, z, y), Looking(kEye, -z, -y), Looking(kEye, -x, z),
        Looking(kEye, x, z), Looking(kEye, y, z),   Looking(kEye, -y, z),
    };
    RenderFaces(state, faces);
}
BENCHMARK(CubeFaces)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace KorvoHost
