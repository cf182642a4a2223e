// The standalone host's ray tracer: an Embree 3 scene built once from a TracerScene, shaded as
// colour × (ambient + Lambert from every light, with shadow rays), two-sided.
//
// Images are width × height RGBA, rows top to bottom. Raster positions handed to a RayFunction
// are in pixels with x to the right and y upwards from the bottom edge, so pixel (column i, row j
// from the top) has its centre at (i + 0.5, height − j − 0.5).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <variant>

#include "standalone_host/raytracer/tracer_scene.h"
#include "standalone_host/raytracer/vector_math.h"

namespace KorvoHost {

// Direction need not be unit length.
struct Ray {
    Vec3 origin;
    Vec3 direction;
};

struct TraceResult {
    Rgba color;  // linear; alpha 1 on geometry, the background with alpha 0 otherwise
    bool hit = false;
    float distance = 0.0f;  // world units from the origin to the hit; infinity when nothing is hit
};

// A camera at cameraToWorld.position looking along its local −Z, local +Y up in the image and +X
// to the right; square pixels.
struct PinholeCamera {
    Transform cameraToWorld;
    float horizontalFov = 1.5707964f;  // radians, 0 < fov < π
};

// The eye ray of the pinhole camera through raster position (rasterX, rasterY), unnormalised.
Ray PinholeRay(const PinholeCamera& camera, int width, int height, float rasterX, float rasterY);

// A camera sample: a ray for the tracer to follow, or a linear colour the caller traced itself
// (for instance a lens shader calling RayTracer::Trace).
using CameraSample = std::variant<Ray, Rgba>;
// Called from several threads at once; must be safe for that.
using RayFunction = std::function<CameraSample(float rasterX, float rasterY)>;

// Camera samples asked for a packet at a time, one array per quantity. The tracer fills the
// raster positions of the first `count` entries; the function answers each entry i with a ray
// (origin and direction, the direction not necessarily unit length) or with given[i] set and a
// linear colour in colors[i]. It draws what a RayFunction answering sample by sample draws.
struct CameraSampleBatch {
    static constexpr int kCapacity = 16;
    int count = 0;
    float rasterX[kCapacity], rasterY[kCapacity];
    float originX[kCapacity], originY[kCapacity], originZ[kCapacity];
    float directionX[kCapacity], directionY[kCapacity], directionZ[kCapacity];
    Rgba colors[kCapacity];
    bool given[kCapacity];
};
// Called from several threads at once, each with a batch of its own.
using RayBatchFunction = std::function<void(CameraSampleBatch& batch)>;

using TracerCamera = std::variant<PinholeCamera, RayFunction, RayBatchFunction>;

// Called on the rendering thread only, between tiles, with the tiles finished so far; answering
// false cancels the render. Adaptive renders go over every tile twice, and count both passes.
using TracerProgress = std::function<bool(int done, int total)>;

struct TracerOptions {
    // Samples per pixel on a regular grid of n × n sub-pixel centres (1..8), averaged in linear
    // light. Deterministic: the same scene and camera always give the same pixels.
    int samplesPerAxis = 1;
    // With more than one sample per axis: trace one sample at each pixel centre of the whole
    // image first, then the full grid only where a pixel's centre differs from a neighbour's by
    // more than two 8-bit display levels (edges, silhouettes, shadow borders); flat pixels keep
    // their centre sample. The centres' codes are held for the whole image meanwhile, four bytes
    // a pixel (9.5 MB for 1536 × 1536). Off: the full grid everywhere.
    bool adaptiveSamples = true;
    // Pixels per side, 1..256; cancelling waits for the tiles in flight.
    int tileSize = 64;
    int threadCount = 0;  // 0: one per hardware thread
};

class RayTracer {
  public:
    // Validates the scene (indices in range, attribute counts matching) and builds the BVH.
    // Returns null and sets `error` (naming the mesh and the problem) when it cannot.
    static std::unique_ptr<RayTracer> Create(const TracerScene& scene, std::string& error);

    ~RayTracer();
    RayTracer(const RayTracer&) = delete;
    RayTracer& operator=(const RayTracer&) = delete;

    // Shades one ray. Thread-safe. Rays with a zero or non-finite direction, or with coordinates
    // that are not finite or beyond 1e18, hit nothing.
    TraceResult Trace(const Vec3& origin, const Vec3& direction) const;

    // Renders into `linearRgba` (width · height · 4 floats) or `srgbRgba` (width · height · 4
    // bytes, colour sRGB-encoded, alpha linear) on all cores. Returns false when the progress
    // callback cancelled (the image is then partly written), and without drawing when the request
    // is unusable: negative size, buffer too small, field of view outside (0, π), non-finite
    // camera transform, empty ray function. An exception from the ray function or the callback
    // stops the render and is rethrown here once every worker has finished. Renders of one
    // tracer may run on several threads at once.
    bool Render(const TracerCamera& camera, int width, int height, std::span<float> linearRgba,
                const TracerOptions& options = {}, const TracerProgress& progress = {}) const;
    bool Render(const TracerCamera& camera, int width, int height, std::span<std::uint8_t> srgbRgba,
                const TracerOptions& options = {}, const TracerProgress& progress = {}) const;

  private:
    struct Impl;
    explicit RayTracer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace KorvoHost
