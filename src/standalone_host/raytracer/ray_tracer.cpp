#include "standalone_host/raytracer/ray_tracer.h"

#include <emmintrin.h>

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
// Samples traced together in one Embree packet.
constexpr int kLanes = 16;
// Pixels of a tile are visited in square blocks of this side, so that the samples of a packet
// lie close together and their rays take nearly the same way through the BVH.
constexpr int kBlockSide = 4;
constexpr int kMaxSamplesPerAxis = 8;
constexpr int kMaxTileSize = 256;
// Adaptive sampling: a pixel whose centre lies within this many 8-bit display levels of every
// neighbour's centre, in every channel, keeps its centre sample.
constexpr int kFlatTolerance = 2;

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

// What shading needs of a first hit, from a single ray or one lane of a packet.
struct HitRecord {
    Vec3 origin;
    Vec3 direction;  // unit length
    float distance;
    Vec3 normal;  // geometric, unnormalised, as Embree gives it
    float u, v;
    unsigned geomID, primID;
};

// A shadow ray towards one light, and the light it brings when nothing blocks it.
struct ShadowRay {
    Vec3 origin;
    Vec3 direction;
    float length;
    Rgb gain;
};

// Up to kLanes camera samples traced and shaded together.
struct Packet {
    RTCRayHit16 rays;
    RTCRay16 shadows;
    alignas(64) int valid[kLanes];  // −1: the lane holds a ray to trace
    alignas(64) int shadowValid[kLanes];
    Surface surfaces[kLanes];
    Rgb gains[kLanes];
    Rgba colors[kLanes];  // the result of every lane once shaded
    bool given[kLanes];   // colors[lane] came from the ray function
    int count = 0;
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

// Embree skips rays whose interval is empty; that is how an unusable ray stays out of the
// traversal. Its coordinates must still be valid numbers.
void SetRay(RTCRayHit& rayHit, const Vec3& origin, const Vec3& direction) {
    RTCRay& ray = rayHit.ray;
    Vec3 unit;
    const bool usable = Usable(origin, direction, unit);
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

// Lanes without a usable ray are left out of the packet's valid mask.
void SetLane(Packet& packet, int lane, const Vec3& origin, const Vec3& direction) {
    RTCRay16& ray = packet.rays.ray;
    Vec3 unit;
    const bool usable = Usable(origin, direction, unit);
    const Vec3 from = usable ? origin : Vec3{};
    const Vec3 along = usable ? unit : Vec3{0, 0, 1};
    ray.org_x[lane] = from.x;
    ray.org_y[lane] = from.y;
    ray.org_z[lane] = from.z;
    ray.dir_x[lane] = along.x;
    ray.dir_y[lane] = along.y;
    ray.dir_z[lane] = along.z;
    ray.tnear[lane] = 0.0f;
    ray.tfar[lane] = kInfinity;
    ray.time[lane] = 0.0f;
    ray.mask[lane] = ~0u;
    ray.id[lane] = 0;
    ray.flags[lane] = 0;
    packet.rays.hit.geomID[lane] = RTC_INVALID_GEOMETRY_ID;
    packet.rays.hit.primID[lane] = RTC_INVALID_GEOMETRY_ID;
    packet.rays.hit.instID[0][lane] = RTC_INVALID_GEOMETRY_ID;
    packet.valid[lane] = usable ? -1 : 0;
    packet.given[lane] = false;
}

bool IsHit(const RTCRayHit& rayHit) { return rayHit.hit.geomID != RTC_INVALID_GEOMETRY_ID; }

HitRecord HitOf(const RTCRayHit& rayHit) {
    const RTCRay& r = rayHit.ray;
    const RTCHit& h = rayHit.hit;
    return {{r.org_x, r.org_y, r.org_z},
            {r.dir_x, r.dir_y, r.dir_z},
            r.tfar,
            {h.Ng_x, h.Ng_y, h.Ng_z},
            h.u,
            h.v,
            h.geomID,
            h.primID};
}

HitRecord HitOf(const RTCRayHit16& rayHit, int i) {
    const RTCRay16& r = rayHit.ray;
    const RTCHit16& h = rayHit.hit;
    return {{r.org_x[i], r.org_y[i], r.org_z[i]},
            {r.dir_x[i], r.dir_y[i], r.dir_z[i]},
            r.tfar[i],
            {h.Ng_x[i], h.Ng_y[i], h.Ng_z[i]},
            h.u[i],
            h.v[i],
            h.geomID[i],
            h.primID[i]};
}

void SetShadowLane(RTCRay16& rays, int lane, const ShadowRay& shadow) {
    rays.org_x[lane] = shadow.origin.x;
    rays.org_y[lane] = shadow.origin.y;
    rays.org_z[lane] = shadow.origin.z;
    rays.dir_x[lane] = shadow.direction.x;
    rays.dir_y[lane] = shadow.direction.y;
    rays.dir_z[lane] = shadow.direction.z;
    rays.tnear[lane] = 0.0f;
    rays.tfar[lane] = shadow.length;
    rays.time[lane] = 0.0f;
    rays.mask[lane] = ~0u;
    rays.id[lane] = 0;
    rays.flags[lane] = 0;
}

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

    void FindSurface(const HitRecord& hit, Surface& surface) const;
    // The shadow ray a light needs at a surface; false when the light adds nothing there or
    // (for a light without shadows) was added at once.
    bool LightRay(const Light& light, Surface& surface, ShadowRay& shadow) const;
    // Traces the packet's rays and shades every lane into its colour.
    void Shade(Packet& packet) const;

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

void RayTracer::Impl::FindSurface(const HitRecord& hit, Surface& surface) const {
    const Vec3& direction = hit.direction;
    const MeshShading& mesh = meshes[hit.geomID];

    surface.point = hit.origin + direction * hit.distance;
    // Float error in the hit point grows with its coordinates and the distance travelled;
    // shadow rays start clear of it. Nothing scene-wide enters, so a vast ground plane does not
    // lift shadows off the contacts of small objects.
    surface.offset = 2e-5f * (MaxAbs(surface.point) + hit.distance);
    // Two-sided: turn the normals towards the viewer, whichever way the triangle winds.
    surface.facing = Normalize(hit.normal);
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

bool RayTracer::Impl::LightRay(const Light& light, Surface& surface, ShadowRay& shadow) const {
    Vec3 toLight = light.toLight;
    float distance = kInfinity;
    if (!light.directional) {
        toLight = light.position - surface.point;
        distance = Length(toLight);
        if (!(distance > 0.0f)) return false;
        toLight = toLight * (1.0f / distance);
    }
    // The light must be on the side the surface is seen from.
    if (Dot(toLight, surface.facing) <= 0.0f) return false;
    const float cosine = Dot(toLight, surface.shading);
    if (cosine <= 0.0f) return false;
    const float falloff = light.directional
                              ? 1.0f
                              : 1.0f / (1.0f + distance * distance * light.inverseFalloffSquared);
    const Rgb gain = light.radiance * (cosine * falloff);
    if (!light.castShadows) {
        surface.light = surface.light + gain;
        return false;
    }
    const float offset = surface.offset;
    shadow.origin = surface.point + surface.facing * offset;
    shadow.direction = toLight;
    // Stop short of a point light so that geometry right at the light cannot shadow it.
    shadow.length = light.directional ? kInfinity : std::max(0.0f, distance - 2.0f * offset);
    shadow.gain = gain;
    return true;
}

void RayTracer::Impl::Shade(Packet& packet) const {
    // Find the first hit of every ray
    bool any = false;
    for (int lane = 0; lane < packet.count; ++lane) any |= packet.valid[lane] != 0;
    for (int lane = packet.count; lane < kLanes; ++lane) packet.valid[lane] = 0;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    // Skipped when the camera gave every colour itself, as a lens shader does.
    if (any) rtcIntersect16(packet.valid, embree->Handle(), &context, &packet.rays);

    // Look up the surface at each hit; misses and unusable rays show the background
    int hits[kLanes];
    int hitCount = 0;
    for (int lane = 0; lane < packet.count; ++lane) {
        if (packet.given[lane]) continue;
        if (!packet.valid[lane] || packet.rays.hit.geomID[lane] == RTC_INVALID_GEOMETRY_ID) {
            packet.colors[lane] = background;
            continue;
        }
        FindSurface(HitOf(packet.rays, lane), packet.surfaces[lane]);
        hits[hitCount++] = lane;
    }

    // Lambert from each light, the shadow rays of all lanes in one packet
    for (const Light& light : lights) {
        bool shadowed = false;
        for (int& valid : packet.shadowValid) valid = 0;
        for (int k = 0; k < hitCount; ++k) {
            const int lane = hits[k];
            ShadowRay shadow;
            if (!LightRay(light, packet.surfaces[lane], shadow)) continue;
            SetShadowLane(packet.shadows, lane, shadow);
            packet.gains[lane] = shadow.gain;
            packet.shadowValid[lane] = -1;
            shadowed = true;
        }
        if (!shadowed) continue;
        rtcInitIntersectContext(&context);
        rtcOccluded16(packet.shadowValid, embree->Handle(), &context, &packet.shadows);
        for (int k = 0; k < hitCount; ++k) {
            const int lane = hits[k];
            // Embree marks a blocked shadow ray by setting tfar to −infinity.
            if (packet.shadowValid[lane] && packet.shadows.tfar[lane] >= 0.0f) {
                Surface& surface = packet.surfaces[lane];
                surface.light = surface.light + packet.gains[lane];
            }
        }
    }

    for (int k = 0; k < hitCount; ++k) {
        const Surface& surface = packet.surfaces[hits[k]];
        const Rgb c = surface.albedo * surface.light;
        packet.colors[hits[k]] = {c.r, c.g, c.b, 1.0f};
    }
}

TraceResult RayTracer::Trace(const Vec3& origin, const Vec3& direction) const {
    const Impl& impl = *impl_;
    RTCRayHit rayHit;
    SetRay(rayHit, origin, direction);
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    if (rayHit.ray.tnear <= rayHit.ray.tfar)
        rtcIntersect1(impl.embree->Handle(), &context, &rayHit);

    TraceResult result;
    result.hit = IsHit(rayHit);
    result.distance = result.hit ? rayHit.ray.tfar : kInfinity;
    if (!result.hit) {
        result.color = impl.background;
        return result;
    }
    Surface surface;
    impl.FindSurface(HitOf(rayHit), surface);
    for (const Light& light : impl.lights) {
        ShadowRay shadow;
        if (!impl.LightRay(light, surface, shadow)) continue;
        RTCRay ray;
        ray.org_x = shadow.origin.x;
        ray.org_y = shadow.origin.y;
        ray.org_z = shadow.origin.z;
        ray.tnear = 0.0f;
        ray.dir_x = shadow.direction.x;
        ray.dir_y = shadow.direction.y;
        ray.dir_z = shadow.direction.z;
        ray.time = 0.0f;
        ray.tfar = shadow.length;
        ray.mask = ~0u;
        ray.id = 0;
        ray.flags = 0;
        rtcInitIntersectContext(&context);
        rtcOccluded1(impl.embree->Handle(), &context, &ray);
        if (ray.tfar >= 0.0f) surface.light = surface.light + shadow.gain;
    }
    const Rgb c = surface.albedo * surface.light;
    result.color = {c.r, c.g, c.b, 1.0f};
    return result;
}

namespace {

static_assert(sizeof(Rgba) == 4 * sizeof(float), "colours are encoded as float quadruples");

// Sub-pixel sample positions and the tiles of one render.
struct RenderLayout {
    int width;
    int height;
    int tileSize;
    int tilesX;
    int samplesPerAxis;
    int samplesPerPixel;
    bool adaptive;

    RenderLayout(int w, int h, const TracerOptions& options)
        : width(w),
          height(h),
          tileSize(std::clamp(options.tileSize, 1, kMaxTileSize)),
          tilesX((w + tileSize - 1) / tileSize),
          samplesPerAxis(std::clamp(options.samplesPerAxis, 1, kMaxSamplesPerAxis)),
          samplesPerPixel(samplesPerAxis * samplesPerAxis),
          adaptive(options.adaptiveSamples && samplesPerAxis > 1) {}

    std::int64_t TileCount() const {
        return std::int64_t(tilesX) * ((height + tileSize - 1) / tileSize);
    }
};

// The 8-bit codes of a region's centre samples, four bytes a pixel, in rows of `stride` pixels
// with a ring of one pixel around the region that repeats its edge: a pixel at the edge of the
// image compares only with the neighbours it has. Rows have room for a group of four pixels to
// be read past the region's right edge.
struct CentreCodes {
    std::vector<std::uint8_t> bytes;
    int stride = 0;

    void Fill(const std::vector<Rgba>& centres, int w, int h) {
        stride = w + 2 + 4;
        bytes.assign((std::size_t(h + 2) * stride + 8) * 4, 0);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = At(0, y);
            EncodeSrgb8Rgba({&centres[std::size_t(y) * w].r, std::size_t(w) * 4},
                            {row, std::size_t(w) * 4});
            std::copy_n(row, 4, row - 4);
            std::copy_n(row + (w - 1) * 4, 4, row + w * 4);
        }
        std::copy_n(At(-1, 0), std::size_t(w + 2) * 4, At(-1, -1));
        std::copy_n(At(-1, h - 1), std::size_t(w + 2) * 4, At(-1, h));
    }
    // The code of region pixel (x, y), −1 ≤ x ≤ w + 4, −1 ≤ y ≤ h.
    std::uint8_t* At(int x, int y) { return &bytes[(std::size_t(y + 1) * stride + (x + 1)) * 4]; }
};

// One worker's scratch, reused from tile to tile.
struct TileScratch {
    Packet packet;
    int targets[kLanes];  // the slot each lane's colour is added to
    std::vector<Rgba> sums;
    std::vector<Rgba> centres;         // adaptive: the tile's centre samples and a border
    CentreCodes codes;                 // the same, encoded to 8 bits for comparison
    std::vector<std::uint8_t> refine;  // adaptive: 1 for pixels that take the full grid
    std::vector<Rgba> row;             // a row of finished pixels
};

// Calls visit(x, y) for every pixel of [x0, x1) × [y0, y1), block by block.
template <typename Visit>
void ForBlocks(int x0, int x1, int y0, int y1, const Visit& visit) {
    for (int by = y0; by < y1; by += kBlockSide) {
        for (int bx = x0; bx < x1; bx += kBlockSide) {
            const int ex = std::min(bx + kBlockSide, x1), ey = std::min(by + kBlockSide, y1);
            for (int y = by; y < ey; ++y)
                for (int x = bx; x < ex; ++x) visit(x, y);
        }
    }
}

// For the four pixels from region pixel (x, y) to the right: bit k set when pixel x + k lies
// within the tolerance of all eight neighbours in every channel.
int FlatGroup(CentreCodes& codes, int x, int y) {
    const __m128i tolerance = _mm_set1_epi8(char(kFlatTolerance));
    const __m128i zero = _mm_setzero_si128();
    const __m128i own = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes.At(x, y)));
    __m128i over = zero;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            const __m128i other =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes.At(x + dx, y + dy)));
            const __m128i difference =
                _mm_or_si128(_mm_subs_epu8(own, other), _mm_subs_epu8(other, own));
            over = _mm_or_si128(over, _mm_subs_epu8(difference, tolerance));
        }
    }
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(over, zero)));
}

void StoreRow(const Rgba* row, int count, float* out) {
    std::copy_n(&row[0].r, std::size_t(count) * 4, out);
}

void StoreRow(const Rgba* row, int count, std::uint8_t* out) {
    EncodeSrgb8Rgba({&row[0].r, std::size_t(count) * 4}, {out, std::size_t(count) * 4});
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

    std::vector<TileScratch> scratch(WorkerCount(options.threadCount, tileCount));
    const int n = layout.samplesPerAxis;
    const float sampleStep = 1.0f / float(n);
    const float weight = 1.0f / float(layout.samplesPerPixel);

    // Samples are queued into the worker's packet, traced when it is full, and their colours
    // added to their slots in `sums`.
    auto flush = [&](TileScratch& t, std::vector<Rgba>& sums) {
        Packet& packet = t.packet;
        if (packet.count == 0) return;
        Shade(packet);
        for (int lane = 0; lane < packet.count; ++lane) {
            Rgba& sum = sums[t.targets[lane]];
            const Rgba& c = packet.colors[lane];
            sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
        }
        packet.count = 0;
    };
    auto add = [&](TileScratch& t, float rasterX, float rasterY, int target,
                   std::vector<Rgba>& sums) {
        Packet& packet = t.packet;
        const int lane = packet.count;
        t.targets[lane] = target;
        if (projector) {
            const Ray ray = projector->At(rasterX, rasterY);
            SetLane(packet, lane, ray.origin, ray.direction);
        } else {
            CameraSample sample = (*rayFunction)(rasterX, rasterY);
            if (const Ray* ray = std::get_if<Ray>(&sample)) {
                SetLane(packet, lane, ray->origin, ray->direction);
            } else {
                SetLane(packet, lane, {}, {});
                packet.colors[lane] = std::get<Rgba>(sample);
                packet.given[lane] = true;
            }
        }
        if (++packet.count == kLanes) flush(t, sums);
    };
    // Every sub-sample of pixel (x, y), each pixel's side by side.
    auto addGrid = [&](TileScratch& t, int x, int y, int target, std::vector<Rgba>& sums) {
        for (int sy = 0; sy < n; ++sy) {
            // Raster y runs upwards from the bottom edge, image rows downwards.
            const float rasterY = float(height - y) - (float(sy) + 0.5f) * sampleStep;
            for (int sx = 0; sx < n; ++sx) {
                add(t, float(x) + (float(sx) + 0.5f) * sampleStep, rasterY, target, sums);
            }
        }
    };
    auto average = [&](const Rgba& sum) {
        if (layout.samplesPerPixel == 1) return sum;
        return Rgba{sum.r * weight, sum.g * weight, sum.b * weight, sum.a * weight};
    };

    auto renderTile = [&](int tile, int worker) {
        TileScratch& t = scratch[worker];
        const int x0 = (tile % layout.tilesX) * layout.tileSize;
        const int y0 = (tile / layout.tilesX) * layout.tileSize;
        const int x1 = std::min(x0 + layout.tileSize, width);
        const int y1 = std::min(y0 + layout.tileSize, height);
        const int tileWidth = x1 - x0;
        t.sums.assign(std::size_t(tileWidth) * (y1 - y0), Rgba{});
        auto slot = [&](int x, int y) { return (y - y0) * tileWidth + (x - x0); };
        t.row.resize(tileWidth);
        auto storeRow = [&](int y) {
            StoreRow(t.row.data(), tileWidth, &pixels[(std::size_t(y) * width + x0) * 4]);
        };

        if (!layout.adaptive) {
            ForBlocks(x0, x1, y0, y1, [&](int x, int y) { addGrid(t, x, y, slot(x, y), t.sums); });
            flush(t, t.sums);
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) t.row[x - x0] = average(t.sums[slot(x, y)]);
                storeRow(y);
            }
            return;
        }

        // Centre samples of the tile and of the pixels around it, so that the pixels at the
        // tile's edge see all their neighbours
        const int cx0 = std::max(x0 - 1, 0), cx1 = std::min(x1 + 1, width);
        const int cy0 = std::max(y0 - 1, 0), cy1 = std::min(y1 + 1, height);
        const int cw = cx1 - cx0, ch = cy1 - cy0;
        t.centres.assign(std::size_t(cw) * ch, Rgba{});
        ForBlocks(cx0, cx1, cy0, cy1, [&](int x, int y) {
            add(t, float(x) + 0.5f, float(height - y) - 0.5f, (y - cy0) * cw + (x - cx0),
                t.centres);
        });
        flush(t, t.centres);
        t.codes.Fill(t.centres, cw, ch);

        // The full grid where a centre stands out from its neighbourhood
        t.refine.assign(t.sums.size(), 0);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; x += 4) {
                const int flat = FlatGroup(t.codes, x - cx0, y - cy0);
                for (int k = 0; k < std::min(4, x1 - x); ++k) {
                    if (flat & (1 << k)) continue;
                    t.refine[slot(x + k, y)] = 1;
                    addGrid(t, x + k, y, slot(x + k, y), t.sums);
                }
            }
        }
        flush(t, t.sums);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const int s = slot(x, y);
                t.row[x - x0] = t.refine[s] ? average(t.sums[s])
                                            : t.centres[std::size_t(y - cy0) * cw + (x - cx0)];
            }
            storeRow(y);
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
