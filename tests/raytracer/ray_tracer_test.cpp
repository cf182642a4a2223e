#include "standalone_host/raytracer/ray_tracer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

#include "standalone_host/image_files/srgb.h"
#include "standalone_host/raytracer/embree_scene.h"
#include "standalone_host/raytracer/primitives.h"

namespace KorvoHost {
namespace {

const float kGrey = SrgbToLinear(0.5f);
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TriangleMesh Painted(TriangleMesh mesh, Rgb color, Vec3 at = {}) {
    Transform move;
    move.position = at;
    mesh = PlaceMesh(std::move(mesh), move);
    mesh.color = color;
    return mesh;
}

std::unique_ptr<RayTracer> MakeTracer(const TracerScene& scene) {
    std::string error;
    auto tracer = RayTracer::Create(scene, error);
    EXPECT_TRUE(tracer) << error;
    return tracer;
}

// A grey floor of 10 × 10 in z = 0 with one light above it and no ambient light.
TracerScene Floor(Vec3 light = {0, 0, 5}) {
    TracerScene scene;
    scene.meshes.push_back(Painted(MakePlane(10, 10), {0.5f, 0.5f, 0.5f}));
    scene.pointLights.push_back({.position = light});
    scene.ambient = {0, 0, 0};
    scene.background = {0.2f, 0.4f, 0.6f};
    return scene;
}

// Looks along world +X: image right is world −Y, image up world +Z.
PinholeCamera AlongX(Vec3 position = {}, float fov = 1.5707964f) {
    PinholeCamera camera;
    camera.cameraToWorld.x = {0, -1, 0};
    camera.cameraToWorld.y = {0, 0, 1};
    camera.cameraToWorld.z = {-1, 0, 0};
    camera.cameraToWorld.position = position;
    camera.horizontalFov = fov;
    return camera;
}

// A small furnished room seen from its middle: coloured walls, a table, a sphere, two lights.
TracerScene Room() {
    TracerScene scene;
    const float size = 6.0f;
    auto wall = [&](Rgb color, Transform t) {
        scene.meshes.push_back(PlaceMesh(MakePlane(size, size), t));
        scene.meshes.back().color = color;
    };
    Transform floor;
    floor.position = {0, 0, -1.5f};
    wall({0.6f, 0.6f, 0.6f}, floor);
    Transform ceiling;
    ceiling.z = {0, 0, -1};
    ceiling.y = {0, -1, 0};
    ceiling.position = {0, 0, 3};
    wall({0.9f, 0.9f, 0.9f}, ceiling);
    Transform north;
    north.y = {0, 0, 1};
    north.z = {0, -1, 0};
    north.position = {0, 3, 0};
    wall({0.8f, 0.2f, 0.2f}, north);
    Transform east;
    east.x = {0, 1, 0};
    east.y = {0, 0, 1};
    east.z = {-1, 0, 0};
    east.position = {3, 0, 0};
    wall({0.2f, 0.7f, 0.2f}, east);
    scene.meshes.push_back(Painted(MakeBox(1.5f, 1.0f, 0.8f), {0.5f, 0.3f, 0.1f}, {1, 1, -1.5f}));
    scene.meshes.push_back(Painted(MakeSphere(0.4f, 24), {0.2f, 0.3f, 0.9f}, {1, 1, -0.3f}));
    scene.pointLights.push_back({.position = {0, 0, 2.5f}, .intensity = 0.8f});
    scene.pointLights.push_back(
        {.position = {-2, -2, 1}, .color = {1.0f, 0.8f, 0.6f}, .intensity = 0.5f});
    scene.ambient = {0.15f, 0.15f, 0.15f};
    scene.background = {0.1f, 0.1f, 0.2f};
    return scene;
}

PinholeCamera RoomCamera() {
    PinholeCamera camera = AlongX({-1.0f, -0.5f, 0.2f}, 1.4f);
    // Turn it a little about the vertical so no wall is seen square on.
    const float a = 0.5f;
    camera.cameraToWorld.x = {std::sin(a), -std::cos(a), 0};
    camera.cameraToWorld.z = {-std::cos(a), -std::sin(a), 0};
    return camera;
}

std::vector<float> RenderFloats(const RayTracer& tracer, const TracerCamera& camera, int width,
                                int height, TracerOptions options = {}) {
    std::vector<float> pixels(std::size_t(width) * height * 4, -1.0f);
    EXPECT_TRUE(tracer.Render(camera, width, height, pixels, options));
    return pixels;
}

int CountDifferent(const std::vector<float>& a, const std::vector<float>& b, float tolerance) {
    int count = 0;
    for (std::size_t p = 0; p < a.size(); p += 4) {
        for (std::size_t c = 0; c < 4; ++c) {
            if (std::abs(a[p + c] - b[p + c]) > tolerance) {
                ++count;
                break;
            }
        }
    }
    return count;
}

TEST(RayTracerShading, LambertFollowsTheAngleToTheLight) {
    TracerScene scene = Floor();
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);

    // Straight below the light: full strength. The direction need not be unit length.
    TraceResult below = tracer->Trace({0, 0, 3}, {0, 0, -2});
    ASSERT_TRUE(below.hit);
    EXPECT_NEAR(below.distance, 3.0f, 1e-4f);
    EXPECT_NEAR(below.color.r, kGrey, 1e-4f);
    EXPECT_EQ(below.color.a, 1.0f);

    // Four units aside the light arrives at cos = 5 / √41.
    const TraceResult aside = tracer->Trace({4, 0, 3}, {0, 0, -1});
    EXPECT_NEAR(aside.color.g, kGrey * 5.0f / std::sqrt(41.0f), 1e-4f);

    scene.pointLights[0].falloffDistance = 5.0f;
    tracer = MakeTracer(scene);
    below = tracer->Trace({0, 0, 3}, {0, 0, -1});
    EXPECT_NEAR(below.color.b, kGrey * 0.5f, 1e-4f) << "half strength at the falloff distance";
}

TEST(RayTracerShading, ShadowsDarkenOnlyWhereLightIsBlocked) {
    TracerScene scene = Floor();
    scene.ambient = {0.5f, 0.5f, 0.5f};
    scene.meshes.push_back(Painted(MakeBox(1, 1, 1), {1, 1, 1}, {0, 0, 2}));
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);

    // Look at the floor under the box from the side, below the box.
    const TraceResult shadowed = tracer->Trace({0, -3, 0.5f}, {0, 3, -0.5f});
    ASSERT_TRUE(shadowed.hit);
    EXPECT_NEAR(shadowed.color.r, kGrey * kGrey, 1e-4f) << "only ambient light in the shadow";
    const TraceResult lit = tracer->Trace({3, -3, 0.5f}, {0, 3, -0.5f});
    EXPECT_NEAR(lit.color.r, kGrey * (kGrey + 5.0f / std::sqrt(34.0f)), 1e-4f);

    // A vast ground must not lift the shadow off a small object standing on it.
    TracerScene vast = Floor({5, 0, 5});
    vast.meshes[0] = Painted(MakePlane(1e5f, 1e5f), {0.5f, 0.5f, 0.5f});
    vast.meshes.push_back(Painted(MakeBox(0.2f, 0.2f, 0.1f), {1, 1, 1}));
    auto vastTracer = MakeTracer(vast);
    ASSERT_TRUE(vastTracer);
    EXPECT_EQ(vastTracer->Trace({-0.15f, 0, 3}, {0, 0, -1}).color.r, 0.0f)
        << "the ground right behind the box is in its shadow";

    scene.pointLights[0].castShadows = false;
    tracer = MakeTracer(scene);
    EXPECT_NEAR(tracer->Trace({0, -3, 0.5f}, {0, 3, -0.5f}).color.r, kGrey * (kGrey + 1.0f), 1e-4f)
        << "a light without shadows shines through the box";
}

TEST(RayTracerShading, SurfacesAreLitFromTheSideTheyAreSeenFrom) {
    auto below = MakeTracer(Floor({0, 0, -5}));
    ASSERT_TRUE(below);
    EXPECT_NEAR(below->Trace({0, 0, -3}, {0, 0, 1}).color.r, kGrey, 1e-4f)
        << "the back of the floor, lit from below";

    auto above = MakeTracer(Floor({0, 0, 5}));
    ASSERT_TRUE(above);
    const TraceResult back = above->Trace({0, 0, -3}, {0, 0, 1});
    EXPECT_TRUE(back.hit);
    EXPECT_EQ(back.color.r, 0.0f) << "light on the far side of the floor does not reach the back";
}

TEST(RayTracerShading, SmoothSphereFollowsTheTrueNormal) {
    TracerScene scene;
    scene.meshes.push_back(Painted(MakeSphere(1.0f, 32), {1, 1, 1}));
    scene.directionalLights.push_back({.direction = {0, 0, -3}});
    scene.ambient = {0, 0, 0};
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);
    // Facets of 11 degrees would be off by several percent; interpolated normals are not.
    for (const float degrees : {20.0f, 45.0f, 70.0f}) {
        const float a = degrees * 3.14159265f / 180.0f;
        const Vec3 normal{std::sin(a) * 0.6f, std::sin(a) * 0.8f, std::cos(a)};
        const TraceResult r = tracer->Trace(normal * 5.0f, -normal);
        EXPECT_NEAR(r.color.r, std::cos(a), 0.005f) << degrees << " degrees from the pole";
    }
}

TEST(RayTracerShading, ImportedColoursOverrideTheMeshColour) {
    TracerScene scene;
    TriangleMesh quad = MakePlane(2, 2);
    quad.triangleColors = {{1, 0, 0}, {0, 0, 1}};
    scene.meshes.push_back(quad);
    quad = Painted(MakePlane(2, 2), {0, 0, 0}, {0, 0, -1});
    quad.vertexColors.assign(quad.positions.size(), {0, 1, 0});
    quad.vertexColors[0] = {1, 1, 1};
    scene.meshes.push_back(quad);
    scene.ambient = {1, 1, 1};
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);

    // The plane's first triangle lies below its diagonal from (−1, −1) to (1, 1).
    EXPECT_EQ(tracer->Trace({0.5f, -0.5f, 1}, {0, 0, -1}).color.r, 1.0f);
    EXPECT_EQ(tracer->Trace({-0.5f, 0.5f, 1}, {0, 0, -1}).color.b, 1.0f);

    // The lower quad seen from below: vertex colours blend in linear light.
    const Rgba nearWhite = tracer->Trace({-0.97f, -0.98f, -2}, {0, 0, 1}).color;
    const Rgba farCorner = tracer->Trace({0.97f, 0.98f, -2}, {0, 0, 1}).color;
    EXPECT_NEAR(nearWhite.r, 0.985f, 1e-3f);
    EXPECT_NEAR(farCorner.r, 0.01f, 1e-3f);
    EXPECT_EQ(farCorner.g, 1.0f);
}

TEST(RayTracerShading, MissesAndUnusableRaysShowTheBackground) {
    auto tracer = MakeTracer(Floor());
    ASSERT_TRUE(tracer);
    const Rgba background{SrgbToLinear(0.2f), SrgbToLinear(0.4f), SrgbToLinear(0.6f), 0.0f};
    const Vec3 origin{0, 0, 3};
    for (const auto& [from, direction] : std::vector<std::pair<Vec3, Vec3>>{
             {origin, {0, 0, 1}},
             {origin, {0, 0, 0}},
             {origin, {kNaN, 0, -1}},
             {{0, kNaN, 3}, {0, 0, -1}},
             {origin, {0, 0, -std::numeric_limits<float>::infinity()}}}) {
        const TraceResult r = tracer->Trace(from, direction);
        EXPECT_FALSE(r.hit);
        EXPECT_EQ(r.color, background);
        EXPECT_TRUE(std::isinf(r.distance));
    }
}

TEST(RayTracerScene, BadScenesAreRefusedWithTheReason) {
    std::string error;
    TracerScene scene = Floor();
    scene.meshes.push_back(MakeBox(1, 1, 1));
    scene.meshes.back().indices[7] = 99;
    EXPECT_FALSE(RayTracer::Create(scene, error));
    EXPECT_NE(error.find("mesh 1"), std::string::npos) << error;
    EXPECT_NE(error.find("99"), std::string::npos) << error;

    scene = Floor();
    scene.meshes[0].normals.resize(1);
    EXPECT_FALSE(RayTracer::Create(scene, error));
    EXPECT_NE(error.find("normals"), std::string::npos) << error;

    scene = Floor();
    scene.meshes[0].indices.pop_back();
    EXPECT_FALSE(RayTracer::Create(scene, error));

    scene = Floor();
    scene.pointLights[0].position.x = kNaN;
    EXPECT_FALSE(RayTracer::Create(scene, error));
    EXPECT_NE(error.find("point light 0"), std::string::npos) << error;

    // Vertices Embree cannot use drop their triangles, not the scene.
    scene = Floor();
    scene.meshes.push_back(Painted(MakeBox(1, 1, 1), {1, 1, 1}, {2, 2, 0}));
    scene.meshes.back().positions[0].x = kNaN;
    scene.meshes.push_back(Painted(MakeBox(1, 1, 1), {1, 1, 1}, {0, 0, 1e30f}));
    auto damaged = MakeTracer(scene);
    ASSERT_TRUE(damaged);
    EXPECT_TRUE(damaged->Trace({-2, -2, 1}, {0, 0, -1}).hit);
    EXPECT_TRUE(damaged->Trace({2, 2, 5}, {0, 0, -1}).hit) << "the box's intact top";
    EXPECT_FALSE(damaged->Trace({0, 0, 2}, {0, 0, 1}).hit);

    // Empty meshes and an empty scene are fine: everything is background.
    scene = TracerScene{};
    scene.meshes.emplace_back();
    auto empty = MakeTracer(scene);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->Trace({0, 0, 0}, {1, 0, 0}).hit);
}

TEST(RayTracerRender, CameraRightAndUpLandWhereTheyShould) {
    TracerScene scene;
    scene.ambient = {1, 1, 1};
    // In front along +X: red to the camera's right (world −Y), green above it (world +Z).
    scene.meshes.push_back(Painted(MakeSphere(1.0f, 24), {1, 0, 0}, {10, -4, 0}));
    scene.meshes.push_back(Painted(MakeSphere(1.0f, 24), {0, 1, 0}, {10, 0, 3}));
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);

    const int width = 64, height = 48;
    const std::vector<float> image = RenderFloats(*tracer, AlongX(), width, height);
    double redX = 0, redY = 0, redCount = 0, greenX = 0, greenY = 0, greenCount = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float* p = &image[(std::size_t(y) * width + x) * 4];
            if (p[0] > 0.5f) redX += x + 0.5, redY += y + 0.5, ++redCount;
            if (p[1] > 0.5f) greenX += x + 0.5, greenY += y + 0.5, ++greenCount;
        }
    }
    ASSERT_GT(redCount, 0);
    ASSERT_GT(greenCount, 0);
    // Red: 4 right at depth 10 with a half width of 10 → u = 0.4, column 44.8, middle row.
    EXPECT_NEAR(redX / redCount, 44.8, 1.0);
    EXPECT_NEAR(redY / redCount, 24.0, 1.0);
    // Green: 3 up, the half height is 7.5 → v = 0.4, 14.4 rows from the top.
    EXPECT_NEAR(greenX / greenCount, 32.0, 1.0);
    EXPECT_NEAR(greenY / greenCount, 14.4, 1.0);
}

TEST(RayTracerRender, PixelsAreBackgroundOrGeometryInBothFormats) {
    TracerScene scene = Room();
    scene.meshes.resize(1);  // floor only: the upper half of the view is empty
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);
    const int width = 40, height = 30;
    const std::vector<float> linear = RenderFloats(*tracer, AlongX(), width, height);
    const Rgb bg{SrgbToLinear(0.1f), SrgbToLinear(0.1f), SrgbToLinear(0.2f)};
    EXPECT_EQ(linear[0], bg.r);
    EXPECT_EQ(linear[2], bg.b);
    EXPECT_EQ(linear[3], 0.0f) << "top-left pixel sees the sky";
    EXPECT_EQ(linear[linear.size() - 1], 1.0f) << "bottom-right pixel sees the floor";

    // 8-bit renders are the float renders encoded, also where flat pixels keep their centres.
    for (const TracerOptions options :
         {TracerOptions{}, TracerOptions{.samplesPerAxis = 2, .tileSize = 16},
          TracerOptions{.samplesPerAxis = 3, .tileSize = 7}}) {
        const std::vector<float> floats = RenderFloats(*tracer, AlongX(), width, height, options);
        std::vector<std::uint8_t> bytes(linear.size());
        ASSERT_TRUE(tracer->Render(AlongX(), width, height, bytes, options));
        std::vector<std::uint8_t> encoded(linear.size());
        EncodeSrgb8Rgba(floats, encoded);
        EXPECT_EQ(bytes, encoded) << options.samplesPerAxis << " samples per axis";
    }
}

TEST(RayTracerRender, RepeatedRendersAreIdenticalOnAnyThreadCountAndTileSize) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    TracerOptions options{.samplesPerAxis = 2, .tileSize = 16, .threadCount = 1};
    const std::vector<float> reference = RenderFloats(*tracer, RoomCamera(), 120, 90, options);
    for (const int threads : {2, 3, 2}) {
        options.threadCount = threads;
        EXPECT_EQ(RenderFloats(*tracer, RoomCamera(), 120, 90, options), reference)
            << threads << " threads";
    }
    // Adaptive sampling looks past each tile's edge, so the tiles' seams leave no trace.
    for (const int tile : {7, 64, 256}) {
        options.tileSize = tile;
        EXPECT_EQ(RenderFloats(*tracer, RoomCamera(), 120, 90, options), reference)
            << "tiles of " << tile;
    }
}

TEST(RayTracerRender, RayFunctionsGiveThePinholePicture) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    const int width = 70, height = 50;
    const PinholeCamera camera = RoomCamera();
    const TracerOptions options{.samplesPerAxis = 2};
    const std::vector<float> pinhole = RenderFloats(*tracer, camera, width, height, options);

    const RayFunction sameRays = [&](float x, float y) {
        return CameraSample(PinholeRay(camera, width, height, x, y));
    };
    EXPECT_EQ(RenderFloats(*tracer, sameRays, width, height, options), pinhole);

    // Colours the function traces itself, as a lens shader does, come out alike too (single
    // rays and ray streams may round a silhouette pixel differently).
    const RayFunction traced = [&](float x, float y) {
        const Ray ray = PinholeRay(camera, width, height, x, y);
        return CameraSample(tracer->Trace(ray.origin, ray.direction).color);
    };
    EXPECT_LE(CountDifferent(RenderFloats(*tracer, traced, width, height, options), pinhole, 1e-4f),
              width * height / 200);
}

// The camera of a lens: rays from moving origins, unnormalised, some tiny or huge, some unusable,
// and colours given outright, as a RayFunction and as the batch function answering the same.
CameraSample OddLensSample(const PinholeCamera& camera, int width, int height, float x, float y) {
    const int column = int(x), row = int(y);
    Ray ray = PinholeRay(camera, width, height, x, y);
    ray.origin = ray.origin + Vec3{0.01f * float(column % 7), 0.0f, 0.02f * float(row % 5)};
    switch ((column * 31 + row * 17) % 23) {
        case 0:
            return Rgba{0.25f, 0.5f, 0.75f, 1.0f};
        case 1:
            ray.direction = ray.direction * 1e-20f;
            break;
        case 2:
            ray.direction = ray.direction * 1e18f;
            break;
        case 3:
            ray.direction = {};
            break;
        case 4:
            ray.origin.x = kNaN;
            break;
        case 5:
            ray.origin.y = 2e18f;
            break;
        case 6:
            ray.direction.z = std::numeric_limits<float>::infinity();
            break;
        default:
            ray.direction = ray.direction * (0.5f + 0.1f * float(column % 3));
            break;
    }
    return ray;
}

RayBatchFunction AsBatch(const RayFunction& single) {
    return [single](CameraSampleBatch& batch) {
        for (int i = 0; i < batch.count; ++i) {
            const CameraSample sample = single(batch.rasterX[i], batch.rasterY[i]);
            if (const Ray* ray = std::get_if<Ray>(&sample)) {
                batch.originX[i] = ray->origin.x;
                batch.originY[i] = ray->origin.y;
                batch.originZ[i] = ray->origin.z;
                batch.directionX[i] = ray->direction.x;
                batch.directionY[i] = ray->direction.y;
                batch.directionZ[i] = ray->direction.z;
            } else {
                batch.colors[i] = std::get<Rgba>(sample);
                batch.given[i] = true;
            }
        }
    };
}

TEST(RayTracerRender, BatchFunctionsDrawWhatSampleFunctionsDraw) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    const int width = 75, height = 53;
    const PinholeCamera camera = RoomCamera();
    const RayFunction single = [&](float x, float y) {
        return OddLensSample(camera, width, height, x, y);
    };
    const RayBatchFunction batch = AsBatch(single);
    for (const TracerOptions options :
         {TracerOptions{}, TracerOptions{.samplesPerAxis = 2},
          TracerOptions{.samplesPerAxis = 3, .adaptiveSamples = false, .tileSize = 7}}) {
        EXPECT_EQ(RenderFloats(*tracer, batch, width, height, options),
                  RenderFloats(*tracer, single, width, height, options))
            << options.samplesPerAxis << " samples per axis";
    }
    // The plain pinhole rays come out as the pinhole camera draws them.
    const RayFunction pinhole = [&](float x, float y) {
        return CameraSample(PinholeRay(camera, width, height, x, y));
    };
    EXPECT_EQ(RenderFloats(*tracer, AsBatch(pinhole), width, height, {.samplesPerAxis = 2}),
              RenderFloats(*tracer, camera, width, height, {.samplesPerAxis = 2}));
}

TEST(RayTracerRender, LensShaderRasterConventionMatchesANinetyDegreeCamera) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    const int size = 64;
    PinholeCamera camera = RoomCamera();
    camera.horizontalFov = 1.5707964f;
    // u = 2x / size − 1 and v = 2y / size − 1 with y counted up from the bottom edge; the ray
    // is (u, v, −1) in camera space.
    const Transform& t = camera.cameraToWorld;
    const RayFunction lens = [&](float x, float y) {
        const float u = 2.0f * x / size - 1.0f;
        const float v = 2.0f * y / size - 1.0f;
        return CameraSample(Ray{t.position, u * t.x + v * t.y - t.z});
    };
    EXPECT_LE(CountDifferent(RenderFloats(*tracer, lens, size, size),
                             RenderFloats(*tracer, camera, size, size), 1e-3f),
              size * size / 200);
}

TEST(RayTracerRender, SupersamplingBlendsEdges) {
    TracerScene scene;
    scene.ambient = {1, 1, 1};
    scene.meshes.push_back(Painted(MakeSphere(2.0f, 48), {1, 1, 1}, {10, 0, 0}));
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);
    auto partlyCovered = [](const std::vector<float>& image) {
        int count = 0;
        for (std::size_t i = 3; i < image.size(); i += 4) count += image[i] > 0 && image[i] < 1;
        return count;
    };
    EXPECT_EQ(partlyCovered(RenderFloats(*tracer, AlongX(), 32, 32)), 0);
    EXPECT_GT(partlyCovered(RenderFloats(*tracer, AlongX(), 32, 32, {.samplesPerAxis = 4})), 10);
}

// Pixels whose centre matches its neighbours keep that one sample; the picture is the full
// grid's but for a level or two where the grid would have smoothed a faint gradient.
TEST(RayTracerRender, AdaptiveSamplesDrawTheFullGridsPicture) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    const int width = 160, height = 120;
    const PinholeCamera camera = RoomCamera();
    std::atomic<long> samples{0};
    const RayFunction counted = [&](float x, float y) {
        ++samples;
        return CameraSample(PinholeRay(camera, width, height, x, y));
    };
    auto render = [&](bool adaptive) {
        std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
        samples = 0;
        EXPECT_TRUE(tracer->Render(counted, width, height, pixels,
                                   {.samplesPerAxis = 2, .adaptiveSamples = adaptive}));
        return std::make_pair(pixels, samples.load());
    };
    const auto [full, fullSamples] = render(false);
    const auto [adaptive, adaptiveSamples] = render(true);
    EXPECT_EQ(fullSamples, long(width) * height * 4);
    EXPECT_LT(adaptiveSamples, fullSamples / 2) << "flat pixels took the whole grid";

    int worst = 0, differing = 0;
    for (std::size_t p = 0; p < full.size(); p += 4) {
        int pixelWorst = 0;
        for (int c = 0; c < 4; ++c)
            pixelWorst = std::max(pixelWorst, std::abs(int(full[p + c]) - int(adaptive[p + c])));
        worst = std::max(worst, pixelWorst);
        differing += pixelWorst > 2;
    }
    EXPECT_LE(differing, width * height / 1000) << "worst difference " << worst;

    // Edges still take the whole grid: a silhouette is blended, not stepped.
    TracerScene ball;
    ball.ambient = {1, 1, 1};
    ball.meshes.push_back(Painted(MakeSphere(2.0f, 48), {1, 1, 1}, {10, 0, 0}));
    auto ballTracer = MakeTracer(ball);
    ASSERT_TRUE(ballTracer);
    const std::vector<float> blended =
        RenderFloats(*ballTracer, AlongX(), 48, 48, {.samplesPerAxis = 2});
    const std::vector<float> reference = RenderFloats(
        *ballTracer, AlongX(), 48, 48, {.samplesPerAxis = 2, .adaptiveSamples = false});
    EXPECT_EQ(blended, reference);
}

// What adaptive sampling must draw, built from a one-sample render (the centres) and a full-grid
// render: the full grid wherever a centre's 8-bit code is more than two levels from a neighbour's
// in some channel, neighbours beyond the image's edge left out, and the centre elsewhere.
std::vector<std::uint8_t> ExpectedAdaptive(const std::vector<std::uint8_t>& centres,
                                           const std::vector<std::uint8_t>& grid, int width,
                                           int height) {
    std::vector<std::uint8_t> expected = centres;
    auto at = [&](int x, int y, int c) {
        return int(centres[(std::size_t(y) * width + x) * 4 + c]);
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool flat = true;
            for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
                for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx)
                    for (int c = 0; c < 4; ++c) flat &= std::abs(at(x, y, c) - at(nx, ny, c)) <= 2;
            if (flat) continue;
            const std::size_t p = (std::size_t(y) * width + x) * 4;
            std::copy_n(&grid[p], 4, &expected[p]);
        }
    }
    return expected;
}

// The centre pass covers the whole image before any pixel is refined, so tiles see the centres
// of their neighbours whatever the image's shape, and no centre is traced twice.
TEST(RayTracerRender, AdaptivePixelsFollowTheCentresOfTheWholeImage) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    struct Case {
        int width, height, tileSize;
    };
    for (const Case c : {Case{97, 61, 16}, Case{97, 61, 7}, Case{23, 11, 64}, Case{1, 40, 8},
                         Case{40, 1, 8}, Case{1, 1, 64}}) {
        const PinholeCamera camera = RoomCamera();
        std::atomic<long> centres{0}, samples{0};
        const RayFunction counted = [&](float x, float y) {
            ++samples;
            centres += x - std::floor(x) == 0.5f;
            return CameraSample(PinholeRay(camera, c.width, c.height, x, y));
        };
        const std::size_t size = std::size_t(c.width) * c.height * 4;
        auto render = [&](const TracerCamera& cam, TracerOptions options) {
            options.tileSize = c.tileSize;
            std::vector<std::uint8_t> pixels(size);
            EXPECT_TRUE(tracer->Render(cam, c.width, c.height, pixels, options));
            return pixels;
        };
        const std::vector<std::uint8_t> expected = ExpectedAdaptive(
            render(camera, {.samplesPerAxis = 1}),
            render(camera, {.samplesPerAxis = 2, .adaptiveSamples = false}), c.width, c.height);
        const std::string name = std::to_string(c.width) + " × " + std::to_string(c.height) +
                                 " in tiles of " + std::to_string(c.tileSize);

        EXPECT_EQ(render(camera, {.samplesPerAxis = 2}), expected) << name;
        EXPECT_EQ(render(counted, {.samplesPerAxis = 2}), expected) << name;
        EXPECT_EQ(centres.load(), long(c.width) * c.height) << name;
        EXPECT_EQ((samples.load() - centres.load()) % 4, 0) << name;
        // Float output keeps the centres of flat pixels unencoded; encoded, it is the same picture.
        std::vector<float> floats(size);
        ASSERT_TRUE(tracer->Render(camera, c.width, c.height, floats,
                                   {.samplesPerAxis = 2, .tileSize = c.tileSize}));
        std::vector<std::uint8_t> encoded(size);
        EncodeSrgb8Rgba(floats, encoded);
        EXPECT_EQ(encoded, expected) << name;
    }
}

// Rays aimed exactly at the edges of a closed box from inside it: Embree's quick triangle test,
// which traces the centres of an adaptive render, lets a few through between the two triangles
// of an edge. Lit by ambient light alone the box is one flat colour, so a centre that slipped
// through stands out, and its pixel is traced again, watertight: the picture shows no hole.
TEST(RayTracerRender, AdaptiveRendersShowNoRayThatSlippedThroughAnEdge) {
    TracerScene scene;
    scene.meshes.push_back(Painted(MakeBox(2, 2, 2), {0.5f, 0.5f, 0.5f}, {0, 0, -1}));
    scene.ambient = {1, 1, 1};
    scene.background = {1, 0, 1};
    auto tracer = MakeTracer(scene);
    ASSERT_TRUE(tracer);
    std::string error;
    const auto embree = EmbreeScene::Build(scene.meshes, error);
    ASSERT_TRUE(embree) << error;
    auto misses = [](RTCScene traced, const Ray& r) {
        RTCRayHit hit{};
        hit.ray.org_x = r.origin.x;
        hit.ray.org_y = r.origin.y;
        hit.ray.org_z = r.origin.z;
        hit.ray.dir_x = r.direction.x;
        hit.ray.dir_y = r.direction.y;
        hit.ray.dir_z = r.direction.z;
        hit.ray.tfar = std::numeric_limits<float>::infinity();
        hit.ray.mask = ~0u;
        hit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        rtcIntersect1(traced, &context, &hit);
        return hit.hit.geomID == RTC_INVALID_GEOMETRY_ID;
    };
    // The rays towards 256 points along every edge of every triangle that the quick scene lets
    // through; the watertight scene stops them all.
    const TriangleMesh& box = scene.meshes[0];
    const Vec3 origin{0.1f, -0.2f, 0.3f};
    std::vector<Ray> slipping;
    for (std::size_t corner = 0; corner < box.indices.size(); ++corner) {
        const std::size_t next = corner - corner % 3 + (corner + 1) % 3;
        const Vec3 a = box.positions[box.indices[corner]], b = box.positions[box.indices[next]];
        for (int k = 0; k < 256; ++k) {
            const Ray r{origin, a + (b - a) * ((float(k) + 0.5f) / 256.0f) - origin};
            ASSERT_FALSE(misses(embree->Handle(), r)) << corner << ", " << k;
            if (misses(embree->Quick(), r)) slipping.push_back(r);
        }
    }
    if (slipping.empty()) GTEST_SKIP() << "Embree's quick triangle test lets no ray through here";

    // Every eleventh pixel or so, all its samples, along one of those rays; the others see the
    // inside of a side of the box.
    const int width = 64, height = 64;
    const RayFunction camera = [&](float x, float y) {
        const int column = int(x), row = int(y);
        if ((column + 3 * row) % 11 == 0)
            return CameraSample(slipping[std::size_t(column + 3 * row) / 11 % slipping.size()]);
        return CameraSample(Ray{origin, {1.0f, x / float(width) - 0.5f, y / float(height) - 0.5f}});
    };
    for (const bool adaptive : {true, false}) {
        const std::vector<float> pixels = RenderFloats(
            *tracer, camera, width, height, {.samplesPerAxis = 2, .adaptiveSamples = adaptive});
        int holes = 0;
        for (std::size_t p = 0; p < pixels.size(); p += 4) holes += pixels[p + 3] != 1.0f;
        EXPECT_EQ(holes, 0) << slipping.size() << " rays slip through in the quick scene; adaptive "
                            << adaptive;
    }
}

TEST(RayTracerRender, ProgressComesOnTheCallingThreadUpToTheTotal) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    std::vector<std::pair<int, int>> calls;
    bool otherThread = false;
    const auto caller = std::this_thread::get_id();
    std::vector<float> pixels(100 * 70 * 4);
    const bool finished =
        tracer->Render(RoomCamera(), 100, 70, pixels, {.tileSize = 32}, [&](int done, int total) {
            otherThread |= std::this_thread::get_id() != caller;
            calls.emplace_back(done, total);
            return true;
        });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(otherThread);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front(), std::make_pair(0, 12));
    EXPECT_EQ(calls.back(), std::make_pair(12, 12));
    for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_LE(calls[i - 1].first, calls[i].first);
}

TEST(RayTracerRender, CancelStopsTheRenderPromptly) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    const int size = 1536;
    std::vector<float> pixels(std::size_t(size) * size * 4, -1.0f);
    using Clock = std::chrono::steady_clock;
    Clock::time_point refused;
    int callsAfterRefusal = 0, doneAtRefusal = 0;
    bool refusedOnce = false;
    const auto caller = std::this_thread::get_id();
    bool otherThread = false;

    const bool finished = tracer->Render(RoomCamera(), size, size, pixels, {}, [&](int done, int) {
        otherThread |= std::this_thread::get_id() != caller;
        if (refusedOnce) ++callsAfterRefusal;
        if (done < 3) return true;
        refusedOnce = true;
        doneAtRefusal = done;
        refused = Clock::now();
        return false;
    });
    const double seconds = std::chrono::duration<double>(Clock::now() - refused).count();
    EXPECT_FALSE(finished);
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(callsAfterRefusal, 0);
    EXPECT_LT(seconds, 0.5) << "the render went on after it was cancelled";
    // Beyond the tiles done when the callback refused (more than three on a busy machine), at
    // most the tile each worker was in.
    std::size_t touched = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) touched += pixels[i] != -1.0f;
    const std::size_t workers = std::max(1u, std::thread::hardware_concurrency());
    EXPECT_LE(touched, (std::size_t(doneAtRefusal) + workers) * 64 * 64)
        << "workers kept taking tiles";
}

// Once the callback refuses, each worker finishes at most the tile it is in: counted in camera
// samples, whatever the sampling, and in either pass of adaptive sampling.
TEST(RayTracerRender, CancelStopsEveryWorkerWithinOneTile) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    const int size = 512, tile = 16, threads = 2;
    const int tiles = (size / tile) * (size / tile);
    std::vector<std::uint8_t> pixels(std::size_t(size) * size * 4);
    for (const TracerOptions options :
         {TracerOptions{.tileSize = tile, .threadCount = threads},
          TracerOptions{.samplesPerAxis = 2, .tileSize = tile, .threadCount = threads},
          TracerOptions{.samplesPerAxis = 2,
          .adaptiveSamples = false,
          .tileSize = tile,
          .threadCount = threads}}) {
        const long n = options.samplesPerAxis;
        const bool adaptive = options.adaptiveSamples && n > 1;
        std::atomic<long> samples{0};
        const RayFunction counted = [&](float x, float y) {
            ++samples;
            return CameraSample(PinholeRay(RoomCamera(), size, size, x, y));
        };
        // Adaptive renders go over the tiles twice: the centres first, then the grids.
        std::vector<int> refusals{4};
        if (adaptive) refusals.push_back(tiles + 4);
        for (const int refuseAt : refusals) {
            // Cameras answering sample by sample and a packet at a time
            for (const TracerCamera& camera :
                 {TracerCamera(counted), TracerCamera(AsBatch(counted))}) {
                samples = 0;
                long atRefusal = -1;
                int reportedTotal = 0;
                const bool finished =
                    tracer->Render(camera, size, size, pixels, options, [&](int done, int total) {
                        reportedTotal = total;
                        if (done < refuseAt) return true;
                        atRefusal = samples.load();
                        return false;
                    });
                EXPECT_FALSE(finished);
                EXPECT_EQ(reportedTotal, adaptive ? 2 * tiles : tiles);
                ASSERT_GE(atRefusal, 0);
                // A tile's samples: its centres in the first pass, the full grid of each pixel
                // at most otherwise.
                const long perTile =
                    refuseAt < tiles && adaptive ? tile * tile : tile * tile * n * n;
                EXPECT_LE(samples.load() - atRefusal, threads * perTile)
                    << n << " samples per axis, refused at " << refuseAt << ", camera "
                    << camera.index() << ": the workers went on after the refusal";
            }
        }
    }
}

TEST(RayTracerRender, ExceptionsFromTheRayFunctionReachTheCaller) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    std::vector<float> pixels(256 * 256 * 4);
    std::atomic<int> calls{0};
    const RayFunction failing = [&](float x, float y) -> CameraSample {
        if (++calls == 5000) throw std::runtime_error("lens failed");
        return Rgba{};
    };
    EXPECT_THROW(tracer->Render(failing, 256, 256, pixels), std::runtime_error);
    calls = 0;
    EXPECT_THROW(tracer->Render(AsBatch(failing), 256, 256, pixels), std::runtime_error);
    EXPECT_THROW(tracer->Render(RoomCamera(), 256, 256, pixels, {},
                                [](int done, int) -> bool {
                                    if (done > 2) throw std::runtime_error("callback failed");
                                    return true;
                                }),
                 std::runtime_error);

    // Sampling adaptively, a failure in the last tile of the centres, while the other workers
    // wait for the second pass, and one in the grids of the second pass.
    const PinholeCamera camera = RoomCamera();
    for (const bool inGrid : {false, true}) {
        for (const int threads : {1, 2, 3}) {
            const RayFunction lens = [&](float x, float y) -> CameraSample {
                const bool centre = x - std::floor(x) == 0.5f;
                const bool lastTile = x > 250 && y < 6;
                if (inGrid ? !centre : centre && lastTile) throw std::runtime_error("lens failed");
                return PinholeRay(camera, 256, 256, x, y);
            };
            EXPECT_THROW(
                tracer->Render(lens, 256, 256, pixels,
                               {.samplesPerAxis = 2, .tileSize = 32, .threadCount = threads}),
                std::runtime_error)
                << (inGrid ? "grid" : "centre") << " sample, " << threads << " threads";
        }
    }
}

TEST(RayTracerRender, UnusableRequestsAreRefused) {
    auto tracer = MakeTracer(Room());
    ASSERT_TRUE(tracer);
    std::vector<float> pixels(16 * 16 * 4);
    EXPECT_FALSE(tracer->Render(RoomCamera(), 17, 16, pixels)) << "buffer too small";
    EXPECT_FALSE(tracer->Render(RoomCamera(), -16, 16, pixels));
    EXPECT_FALSE(tracer->Render(AlongX({}, 0.0f), 16, 16, pixels));
    EXPECT_FALSE(tracer->Render(AlongX({kNaN, 0, 0}), 16, 16, pixels));
    EXPECT_FALSE(tracer->Render(RayFunction{}, 16, 16, pixels));
    EXPECT_FALSE(tracer->Render(RayBatchFunction{}, 16, 16, pixels));
    EXPECT_TRUE(tracer->Render(RoomCamera(), 0, 0, pixels)) << "nothing to draw is no failure";
}

}  // namespace
}  // namespace KorvoHost
