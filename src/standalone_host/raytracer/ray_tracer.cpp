#include "standalone_host/raytracer/ray_tracer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "standalone_host/image_files/srgb.h"
#include "standalone_host/raytracer/embree_scene.h"
#include "standalone_host/raytracer/tile_runner.h"

namespace KorvoHost {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
// Samples traced together in one Embree stream call; bounds the per-worker scratch memory.
constexpr int kBatchSamples = 4096;
constexpr int kMaxSamplesPerAxis = 8;
constexpr int kMaxTileSize = 256;

Rgb Linear(const Rgb& display) {
    return {SrgbToLinear(display.r), SrgbToLinear(display.g), SrgbToLinear(display.b)};
}
Rgb operator*(const Rgb& a, const Rgb& b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
Rgb operator*(const Rgb& c, float s) { return {c.r * s, c.g * s, c.b * s}; }
Rgb operator+(const Rgb& a, const Rgb& b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

// Colours and normals of one mesh, looked up at a hit. Colours are linear.
struct MeshShading {
    std::vector<std::uint32_t> indices;  // kept only when normals or vertex colours need them
    std::vector<Vec3> normals;
    std::vector<Rgb> vertexColors;
    std::vector<Rgb> triangleColors;
    Rgb color;
};

// Point and directional lights in one form: `radiance` is linear colour × intensity.
struct Light {
    Vec3 position;  // point lights
    Vec3 toLight;   // directional lights: unit vector against the light's travel
    Rgb radiance;
    bool directional = false;
    bool castShadows = true;
    float inverseFalloffSquared = 0.0f;  // 1 / falloffDistance², 0 for none
};

struct Surface {
    Vec3 point;
    Vec3 facing;   // unit geometric normal on the side the ray came from
    Vec3 shading;  // unit shading normal on that same side
    Rgb albedo;
    Rgb light;     // ambient plus the light gathered so far
    float offset;  // how far shadow rays start off the surface
};

// One worker's samples of a part of a tile, reused from batch to batch.
struct SampleBatch {
    std::vector<RTCRayHit> rays;
    std::vector<Rgba> colors;         // the result of every sample once shaded
    std::vector<std::uint8_t> given;  // 1: colors[i] came from the ray function
    std::vector<Surface> surfaces;
    std::vector<std::uint32_t> hits;  // samples that hit geometry
    std::vector<RTCRay> shadowRays;
    std::vector<Rgb> shadowGains;  // light each shadow ray brings when unblocked
    std::vector<std::uint32_t> shadowOwners;

    void Resize(std::size_t count) {
        rays.resize(count);
        colors.resize(count);
        given.resize(count);
        surfaces.resize(count);
    }
};

inline float MaxAbs(const Vec3& v) {
    return std::max(std::max(std::abs(v.x), std::abs(v.y)), std::abs(v.z));
}

// Embree asserts on coordinates beyond about 1.8e18; such rays, like non-finite ones, are
// treated as hitting nothing.
constexpr float kLargestCoordinate = 1e18f;

// Rays go to Embree with unit directions, so hit distances come back in world units. Scaling by
// the largest component first keeps tiny directions from underflowing.
inline bool Usable(const Vec3& origin, const Vec3& direction, Vec3& unitDirection) {
    if (!IsFinite(origin) || !IsFinite(direction) || MaxAbs(origin) > kLargestCoordinate) {
        return false;
    }
    const float lengthSquared = Dot(direction, direction);
    if (lengthSquared > 1e-30f && lengthSquared < 1e30f) {
        unitDirection = direction * (1.0f / std::sqrt(lengthSquared));
        return true;
    }
    const float scale = MaxAbs(direction);
    if (!(scale > 0.0f)) return false;
    unitDirection = Normalize({direction.x / scale, direction.y / scale, direction.z / scale});
    return true;
}

void SetRay(RTCRayHit& rayHit, const Vec3& origin, const Vec3& direction) {
    RTCRay& ray = rayHit.ray;
    Vec3 unit;
    const bool usable = Usable(origin, direction, unit);
    // Embree skips rays whose interval is empty; that is how unusable rays and samples with a
    // given colour stay out of the stream. Their coordinates must still be valid numbers.
    const Vec3 from = usable ? origin : Vec3{};
    const Vec3 along = usable ? unit : Vec3{0, 0, 1};
    ray.org_x = from.x;
    ray.org_y = from.y;
    ray.org_z = from.z;
    ray.dir_x = along.x;
    ray.dir_y = along.y;
    ray.dir_z = along.z;
    ray.time = 0.0f;
    ray.mask = ~0u;
    ray.id = 0;
    ray.flags = 0;
    ray.tnear = usable ? 0.0f : kInfinity;
    ray.tfar = usable ? kInfinity : -kInfinity;
    rayHit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rayHit.hit.primID = RTC_INVALID_GEOMETRY_ID;
    rayHit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
}

Vec3 RayOrigin(const RTCRay& ray) { return {ray.org_x, ray.org_y, ray.org_z}; }
Vec3 RayDirection(const RTCRay& ray) { return {ray.dir_x, ray.dir_y, ray.dir_z}; }
bool IsHit(const RTCRayHit& rayHit) { return rayHit.hit.geomID != RTC_INVALID_GEOMETRY_ID; }

// Pinhole projection set up once per render; PinholeRay uses the very same arithmetic.
class PinholeProjector {
  public:
    PinholeProjector(const PinholeCamera& camera, int width, int height)
        : origin_(camera.cameraToWorld.position),
          forward_(-camera.cameraToWorld.z),
          xScale_(2.0f / float(width)),
          yScale_(2.0f / float(height)) {
        const float halfWidth = std::tan(camera.horizontalFov * 0.5f);
        right_ = camera.cameraToWorld.x * halfWidth;
        up_ = camera.cameraToWorld.y * (halfWidth * float(height) / float(width));
    }

    Ray At(float rasterX, float rasterY) const {
        const float u = rasterX * xScale_ - 1.0f;
        const float v = rasterY * yScale_ - 1.0f;
        return {origin_, u * right_ + v * up_ + forward_};
    }

  private:
    Vec3 origin_;
    Vec3 forward_;
    Vec3 right_;
    Vec3 up_;
    float xScale_;
    float yScale_;
};

bool Usable(const PinholeCamera& camera) {
    const Transform& t = camera.cameraToWorld;
    return camera.horizontalFov > 0.0f && camera.horizontalFov < 3.1415926f && IsFinite(t.x) &&
           IsFinite(t.y) && IsFinite(t.z) && IsFinite(t.position);
}

std::string CheckMesh(const TriangleMesh& mesh) {
    const std::size_t triangles = mesh.indices.size() / 3;
    if (mesh.indices.size() % 3 != 0) {
        return std::to_string(mesh.indices.size()) + " indices, not a multiple of three";
    }
    if (mesh.positions.size() > std::numeric_limits<std::uint32_t>::max()) {
        return "more vertices than 32-bit indices can address";
    }
    for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
        if (mesh.indices[i] >= mesh.positions.size()) {
            return "index " + std::to_string(i) + " refers to vertex " +
                   std::to_string(mesh.indices[i]) + " of " + std::to_string(mesh.positions.size());
        }
    }
    if (!mesh.normals.empty() && mesh.normals.size() != mesh.positions.size()) {
        return std::to_string(mesh.normals.size()) + " normals for " +
               std::to_string(mesh.positions.size()) + " vertices";
    }
    if (!mesh.vertexColors.empty() && mesh.vertexColors.size() != mesh.positions.size()) {
        return std::to_string(mesh.vertexColors.size()) + " vertex colours for " +
               std::to_string(mesh.positions.size()) + " vertices";
    }
    if (!mesh.triangleColors.empty() && mesh.triangleColors.size() != triangles) {
        return std::to_string(mesh.triangleColors.size()) + " triangle colours for " +
               std::to_string(triangles) + " triangles";
    }
    return {};
}

MeshShading MakeShading(const TriangleMesh& mesh) {
    MeshShading shading;
    shading.color = Linear(mesh.color);
    if (!mesh.triangleColors.empty()) {
        shading.triangleColors.reserve(mesh.triangleColors.size());
        for (const Rgb& c : mesh.triangleColors) shading.triangleColors.push_back(Linear(c));
    } else if (!mesh.vertexColors.empty()) {
        shading.vertexColors.reserve(mesh.vertexColors.size());
        for (const Rgb& c : mesh.vertexColors) shading.vertexColors.push_back(Linear(c));
    }
    shading.normals = mesh.normals;
    if (!shading.normals.empty() || !shading.vertexColors.empty()) shading.indices = mesh.indices;
    return shading;
}

}  // namespace

Ray PinholeRay(const PinholeCamera& camera, int width, int height, float rasterX, float rasterY) {
    return PinholeProjector(camera, width, height).At(rasterX, rasterY);
}

struct RayTracer::Impl {
    std::unique_ptr<EmbreeScene> embree;
    std::vector<MeshShading> meshes;  // by Embree geometry id
    std::vector<Light> lights;
    Rgb ambient;
    Rgba background;

    void Shade(SampleBatch& batch, std::size_t count) const;
    void FindSurface(const RTCRayHit& rayHit, Surface& surface) const;
    void GatherLight(SampleBatch& batch, const Light& light) const;

    template <typename Pixel>
    bool Render(const TracerCamera& camera, int width, int height, std::span<Pixel> pixels,
                const TracerOptions& options, const TracerProgress& progress) const;
};

RayTracer::RayTracer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RayTracer::~RayTracer() = default;

std::unique_ptr<RayTracer> RayTracer::Create(const TracerScene& scene, std::string& error) try {
    auto impl = std::make_unique<Impl>();
    for (std::size_t i = 0; i < scene.meshes.size(); ++i) {
        if (std::string problem = CheckMesh(scene.meshes[i]); !problem.empty()) {
            error = "mesh " + std::to_string(i) + ": " + problem;
            return nullptr;
        }
    }
    if (scene.meshes.size() > std::numeric_limits<unsigned>::max() - 1) {
        error = "too many meshes";
        return nullptr;
    }
    for (std::size_t i = 0; i < scene.pointLights.size(); ++i) {
        const PointLight& p = scene.pointLights[i];
        if (!IsFinite(p.position) || !std::isfinite(p.intensity)) {
            error = "point light " + std::to_string(i) + ": position or intensity is not finite";
            return nullptr;
        }
        Light& light = impl->lights.emplace_back();
        light.position = p.position;
        light.radiance = Linear(p.color) * p.intensity;
        light.castShadows = p.castShadows;
        if (p.falloffDistance > 0.0f && std::isfinite(p.falloffDistance)) {
            light.inverseFalloffSquared = 1.0f / (p.falloffDistance * p.falloffDistance);
        }
    }
    for (std::size_t i = 0; i < scene.directionalLights.size(); ++i) {
        const DirectionalLight& d = scene.directionalLights[i];
        Vec3 unit;
        if (!Usable(Vec3{}, d.direction, unit) || !std::isfinite(d.intensity)) {
            error = "directional light " + std::to_string(i) +
                    ": direction is zero or not finite, or intensity is not finite";
            return nullptr;
        }
        Light& light = impl->lights.emplace_back();
        light.toLight = -unit;
        light.radiance = Linear(d.color) * d.intensity;
        light.directional = true;
        light.castShadows = d.castShadows;
    }
    impl->ambient = Linear(scene.ambient);
    const Rgb background = Linear(scene.background);
    impl->background = {background.r, background.g, background.b, 0.0f};

    impl->meshes.reserve(scene.meshes.size());
    for (const TriangleMesh& mesh : scene.meshes) impl->meshes.push_back(MakeShading(mesh));
    impl->embree = EmbreeScene::Build(scene.meshes, error);
    if (!impl->embree) return nullptr;
    return std::unique_ptr<RayTracer>(new RayTracer(std::move(impl)));
} catch (const std::bad_alloc&) {
    error = "out of memory while building the scene";
    return nullptr;
}

void RayTracer::Impl::FindSurface(const RTCRayHit& rayHit, Surface& surface) const {
    const RTCRay& ray = rayHit.ray;
    const RTCHit& hit = rayHit.hit;
    const Vec3 direction = RayDirection(ray);
    const MeshShading& mesh = meshes[hit.geomID];

    surface.point = RayOrigin(ray) + direction * ray.tfar;
    // Float error in the hit point grows with its coordinates and the distance travelled;
    // shadow rays start clear of it. Nothing scene-wide enters, so a vast ground plane does not
    // lift shadows off the contacts of small objects.
    surface.offset = 2e-5f * (MaxAbs(surface.point) + ray.tfar);
    // Two-sided: turn the normals towards the viewer, whichever way the triangle winds.
    surface.facing = Normalize(Vec3{hit.Ng_x, hit.Ng_y, hit.Ng_z});
    if (Dot(surface.facing, direction) > 0.0f) surface.facing = -surface.facing;
    surface.shading = surface.facing;

    const float w = 1.0f - hit.u - hit.v;
    const std::uint32_t* corner = mesh.indices.empty() ? nullptr : &mesh.indices[3 * hit.primID];
    if (!mesh.normals.empty()) {
        const Vec3 n = Normalize(w * mesh.normals[corner[0]] + hit.u * mesh.normals[corner[1]] +
                                 hit.v * mesh.normals[corner[2]]);
        // A zero or flipped interpolated normal falls back to, or follows, the facing side.
        if (Dot(n, n) > 0.0f) surface.shading = Dot(n, surface.facing) < 0.0f ? -n : n;
    }
    if (!mesh.triangleColors.empty()) {
        surface.albedo = mesh.triangleColors[hit.primID];
    } else if (!mesh.vertexColors.empty()) {
        surface.albedo = mesh.vertexColors[corner[0]] * w + mesh.vertexColors[corner[1]] * hit.u +
                         mesh.vertexColors[corner[2]] * hit.v;
    } else {
        surface.albedo = mesh.color;
    }
    surface.light = ambient;
}

void RayTracer::Impl::GatherLight(SampleBatch& batch, const Light& light) const {
    // Sized up front and filled in place: building each ray on the stack and copying it in
    // stalls on store forwarding.
    batch.shadowRays.resize(batch.hits.size());
    batch.shadowGains.resize(batch.hits.size());
    batch.shadowOwners.resize(batch.hits.size());

    std::size_t count = 0;
    for (const std::uint32_t sample : batch.hits) {
        Surface& surface = batch.surfaces[sample];
        Vec3 toLight = light.toLight;
        float distance = kInfinity;
        if (!light.directional) {
            toLight = light.position - surface.point;
            distance = Length(toLight);
            if (!(distance > 0.0f)) continue;
            toLight = toLight * (1.0f / distance);
        }
        // The light must be on the side the surface is seen from.
        if (Dot(toLight, surface.facing) <= 0.0f) continue;
        const float cosine = Dot(toLight, surface.shading);
        if (cosine <= 0.0f) continue;
        const float falloff =
            light.directional ? 1.0f
                              : 1.0f / (1.0f + distance * distance * light.inverseFalloffSquared);
        const Rgb gain = light.radiance * (cosine * falloff);
        if (!light.castShadows) {
            surface.light = surface.light + gain;
            continue;
        }
        const float offset = surface.offset;
        const Vec3 origin = surface.point + surface.facing * offset;
        RTCRay& shadow = batch.shadowRays[count];
        shadow.org_x = origin.x;
        shadow.org_y = origin.y;
        shadow.org_z = origin.z;
        shadow.tnear = 0.0f;
        shadow.dir_x = toLight.x;
        shadow.dir_y = toLight.y;
        shadow.dir_z = toLight.z;
        shadow.time = 0.0f;
        // Stop short of a point light so that geometry right at the light cannot shadow it.
        shadow.tfar = light.directional ? kInfinity : std::max(0.0f, distance - 2.0f * offset);
        shadow.mask = ~0u;
        shadow.id = 0;
        shadow.flags = 0;
        batch.shadowGains[count] = gain;
        batch.shadowOwners[count] = sample;
        ++count;
    }

    if (count == 0) return;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    if (count == 1) {
        rtcOccluded1(embree->Handle(), &context, &batch.shadowRays[0]);
    } else {
        rtcOccluded1M(embree->Handle(), &context, batch.shadowRays.data(), unsigned(count),
                      sizeof(RTCRay));
    }
    for (std::size_t i = 0; i < count; ++i) {
        // Embree marks a blocked shadow ray by setting tfar to −infinity.
        if (batch.shadowRays[i].tfar >= 0.0f) {
            Surface& surface = batch.surfaces[batch.shadowOwners[i]];
            surface.light = surface.light + batch.shadowGains[i];
        }
    }
}

void RayTracer::Impl::Shade(SampleBatch& batch, std::size_t count) const {
    // Find the first hit of every ray
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    if (count == 1) {
        RTCRayHit& single = batch.rays[0];
        if (single.ray.tnear <= single.ray.tfar) rtcIntersect1(embree->Handle(), &context, &single);
    } else if (std::find(batch.given.begin(), batch.given.begin() + count, 0) !=
               batch.given.begin() + count) {
        // Skipped when the camera gave every colour itself, as a lens shader does.
        context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
        rtcIntersect1M(embree->Handle(), &context, batch.rays.data(), unsigned(count),
                       sizeof(RTCRayHit));
    }

    // Look up the surface at each hit; misses show the background
    batch.hits.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (batch.given[i]) continue;
        if (!IsHit(batch.rays[i])) {
            batch.colors[i] = background;
            continue;
        }
        FindSurface(batch.rays[i], batch.surfaces[i]);
        batch.hits.push_back(std::uint32_t(i));
    }

    // Lambert from each light, with shadow rays traced together
    for (const Light& light : lights) GatherLight(batch, light);

    for (const std::uint32_t i : batch.hits) {
        const Rgb c = batch.surfaces[i].albedo * batch.surfaces[i].light;
        batch.colors[i] = {c.r, c.g, c.b, 1.0f};
    }
}

TraceResult RayTracer::Trace(const Vec3& origin, const Vec3& direction) const {
    // Per thread, apart from the workers' batches: a ray function may call Trace while its
    // worker is in the middle of a batch.
    thread_local SampleBatch batch;
    batch.Resize(1);
    SetRay(batch.rays[0], origin, direction);
    batch.given[0] = 0;
    impl_->Shade(batch, 1);

    const RTCRayHit& rayHit = batch.rays[0];
    TraceResult result;
    result.color = batch.colors[0];
    result.hit = IsHit(rayHit);
    result.distance = result.hit ? rayHit.ray.tfar : kInfinity;
    return result;
}

namespace {

// Sub-pixel sample positions and the tiles of one render.
struct RenderLayout {
    int width;
    int height;
    int tileSize;
    int tilesX;
    int samplesPerAxis;
    int samplesPerPixel;
    int rowsPerBatch;  // pixel rows of a tile traced in one batch

    RenderLayout(int w, int h, const TracerOptions& options)
        : width(w),
          height(h),
          tileSize(std::clamp(options.tileSize, 1, kMaxTileSize)),
          tilesX((w + tileSize - 1) / tileSize),
          samplesPerAxis(std::clamp(options.samplesPerAxis, 1, kMaxSamplesPerAxis)),
          samplesPerPixel(samplesPerAxis * samplesPerAxis),
          rowsPerBatch(std::max(1, kBatchSamples / (tileSize * samplesPerPixel))) {}

    std::int64_t TileCount() const {
        return std::int64_t(tilesX) * ((height + tileSize - 1) / tileSize);
    }
};

void StorePixel(const Rgba& c, float* out) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

void StorePixel(const Rgba& c, std::uint8_t* out) {
    const float linear[4] = {c.r, c.g, c.b, c.a};
    EncodeSrgb8Rgba(linear, std::span<std::uint8_t>(out, 4));
}

}  // namespace

template <typename Pixel>
bool RayTracer::Impl::Render(const TracerCamera& camera, int width, int height,
                             std::span<Pixel> pixels, const TracerOptions& options,
                             const TracerProgress& progress) const {
    if (width < 0 || height < 0) return false;
    if (std::uint64_t(pixels.size()) / 4 < std::uint64_t(width) * std::uint64_t(height)) {
        return false;
    }
    const auto* pinhole = std::get_if<PinholeCamera>(&camera);
    const auto* rayFunction = std::get_if<RayFunction>(&camera);
    if (pinhole && !Usable(*pinhole)) return false;
    if (rayFunction && !*rayFunction) return false;

    const RenderLayout layout(width, height, options);
    if (layout.TileCount() > INT_MAX) return false;
    const int tileCount = int(layout.TileCount());
    std::optional<PinholeProjector> projector;
    if (pinhole) projector.emplace(*pinhole, width, height);

    std::vector<SampleBatch> batches(WorkerCount(options.threadCount, tileCount));
    const float sampleStep = 1.0f / float(layout.samplesPerAxis);

    auto renderTile = [&](int tile, int worker) {
        SampleBatch& batch = batches[worker];
        const int x0 = (tile % layout.tilesX) * layout.tileSize;
        const int y0 = (tile / layout.tilesX) * layout.tileSize;
        const int x1 = std::min(x0 + layout.tileSize, width);
        const int y1 = std::min(y0 + layout.tileSize, height);
        const int n = layout.samplesPerAxis;

        for (int rowStart = y0; rowStart < y1; rowStart += layout.rowsPerBatch) {
            const int rowEnd = std::min(rowStart + layout.rowsPerBatch, y1);
            const std::size_t count =
                std::size_t(rowEnd - rowStart) * (x1 - x0) * layout.samplesPerPixel;
            batch.Resize(count);

            // Camera samples, pixel by pixel, each pixel's sub-samples side by side
            std::size_t s = 0;
            for (int y = rowStart; y < rowEnd; ++y) {
                for (int x = x0; x < x1; ++x) {
                    for (int sy = 0; sy < n; ++sy) {
                        // Raster y runs upwards from the bottom edge, image rows downwards.
                        const float rasterY = float(height - y) - (float(sy) + 0.5f) * sampleStep;
                        for (int sx = 0; sx < n; ++sx, ++s) {
                            const float rasterX = float(x) + (float(sx) + 0.5f) * sampleStep;
                            CameraSample sample =
                                projector ? CameraSample(projector->At(rasterX, rasterY))
                                          : (*rayFunction)(rasterX, rasterY);
                            if (const Ray* ray = std::get_if<Ray>(&sample)) {
                                SetRay(batch.rays[s], ray->origin, ray->direction);
                                batch.given[s] = 0;
                            } else {
                                SetRay(batch.rays[s], {}, {});
                                batch.colors[s] = std::get<Rgba>(sample);
                                batch.given[s] = 1;
                            }
                        }
                    }
                }
            }

            Shade(batch, count);

            // Average each pixel's samples into the image
            const float weight = 1.0f / float(layout.samplesPerPixel);
            s = 0;
            for (int y = rowStart; y < rowEnd; ++y) {
                for (int x = x0; x < x1; ++x) {
                    Rgba sum;
                    for (int k = 0; k < layout.samplesPerPixel; ++k, ++s) {
                        const Rgba& c = batch.colors[s];
                        sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
                    }
                    if (layout.samplesPerPixel > 1) {
                        sum = {sum.r * weight, sum.g * weight, sum.b * weight, sum.a * weight};
                    }
                    StorePixel(sum, &pixels[(std::size_t(y) * width + x) * 4]);
                }
            }
        }
    };
    return RunTiles(tileCount, options.threadCount, renderTile, progress);
}

bool RayTracer::Render(const TracerCamera& camera, int width, int height,
                       std::span<float> linearRgba, const TracerOptions& options,
                       const TracerProgress& progress) const {
    return impl_->Render(camera, width, height, linearRgba, options, progress);
}

bool RayTracer::Render(const TracerCamera& camera, int width, int height,
                       std::span<std::uint8_t> srgbRgba, const TracerOptions& options,
                       const TracerProgress& progress) const {
    return impl_->Render(camera, width, height, srgbRgba, options, progress);
}

}  // namespace KorvoHost
