#include "standalone_host/raytracer/ray_tracer.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "standalone_host/image_files/srgb.h"
#include "standalone_host/raytracer/embree_scene.h"
#include "standalone_host/raytracer/tile_runner.h"

namespace KorvoHost {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
// Samples traced together in one Embree packet.
constexpr int kLanes = 16;
static_assert(CameraSampleBatch::kCapacity == kLanes, "a batch fills one packet");
// Pixels of a tile are visited in square blocks of this side, so that the samples of a packet
// lie close together and their rays take nearly the same way through the BVH.
constexpr int kBlockSide = 4;
constexpr int kMaxSamplesPerAxis = 8;
constexpr int kMaxTileSize = 256;
// Adaptive sampling: a pixel whose centre lies within this many 8-bit display levels of every
// neighbour's centre, in every channel, keeps its centre sample.
constexpr int kFlatTolerance = 2;
// Pixels whose flatness is tested at once.
constexpr int kFlatGroup = 16;

Rgb Linear(const Rgb& display) {
    return {SrgbToLinear(display.r), SrgbToLinear(display.g), SrgbToLinear(display.b)};
}
Rgb operator*(const Rgb& c, float s) { return {c.r * s, c.g * s, c.b * s}; }
Rgb operator+(const Rgb& a, const Rgb& b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

// Colours and normals of one mesh, looked up at a hit. Colours are linear.
struct MeshShading {
    std::vector<std::uint32_t> indices;  // kept only when normals or vertex colours need them
    std::vector<Vec3> normals;
    std::vector<Rgb> vertexColors;
    std::vector<Rgb> triangleColors;
    Rgb color;
    bool plain = true;  // one colour and flat normals: nothing to look up at a hit
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

// The surfaces a packet's rays hit, one array per quantity, so that the loops over the lanes
// run in vector registers.
struct alignas(64) LaneSurfaces {
    float px[kLanes], py[kLanes], pz[kLanes];  // the hit point
    float fx[kLanes], fy[kLanes], fz[kLanes];  // unit geometric normal on the side seen from
    float sx[kLanes], sy[kLanes], sz[kLanes];  // unit shading normal on that same side
    float ar[kLanes], ag[kLanes], ab[kLanes];  // albedo
    float lr[kLanes], lg[kLanes], lb[kLanes];  // ambient plus the light gathered so far
    float gr[kLanes], gg[kLanes], gb[kLanes];  // what the current light's shadow rays bring
    float offset[kLanes];                      // how far shadow rays start off the surface
    int hit[kLanes];                           // −1: the lane hit geometry
};

// Up to kLanes camera samples traced and shaded together.
struct Packet {
    RTCRayHit16 rays;
    RTCRay16 shadows;
    alignas(64) int valid[kLanes];  // −1: the lane holds a ray to trace
    alignas(64) int shadowValid[kLanes];
    LaneSurfaces surfaces;
    Rgba colors[kLanes];                     // the result of every lane once shaded
    int given[kLanes];                       // 1: colors[lane] came from the ray function
    float rasterX[kLanes], rasterY[kLanes];  // pinhole and batch cameras: each lane's sample
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

// Everything of a lane but its origin and direction: the whole ray's range, no hit yet, and in
// the valid mask when usable.
[[gnu::always_inline]] inline void ReadyLane(Packet& packet, int lane, bool usable) {
    RTCRay16& ray = packet.rays.ray;
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
    packet.given[lane] = 0;
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
    ReadyLane(packet, lane, usable);
}

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

    // The camera rays of the packet's first `count` lanes, from the raster positions they hold.
    void Lanes(Packet& packet) const;

  private:
    Vec3 origin_;
    Vec3 forward_;
    Vec3 right_;
    Vec3 up_;
    float xScale_;
    float yScale_;
};

// The clones' resolvers run while the program is relocated, before a ThreadSanitizer runtime is
// ready for the calls its instrumentation puts into them. The AVX-512 clone holds a packet's 16
// lanes in one register per quantity; it has fused multiply-adds, which the file's build keeps
// from contracting a·b + c, so that every clone computes the same bits.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define KORVO_LANE_LOOPS __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define KORVO_LANE_LOOPS
#endif

// ReadyLane for every lane at once, usable where ordinary[i] is set; lanes past a packet's count
// are left out of the trace by Shade.
KORVO_LANE_LOOPS void ReadyLanes(Packet& __restrict packet, const int* __restrict ordinary) {
    for (int i = 0; i < kLanes; ++i) ReadyLane(packet, i, ordinary[i] != 0);
}

// Across all lanes at once, as SetLane would form each ray: unit directions where the length is
// in the range that needs no rescaling, and SetLane itself for any other lane.
KORVO_LANE_LOOPS void PinholeLanes(const float* __restrict rasterX, const float* __restrict rasterY,
                                   float xScale, float yScale, Vec3 right, Vec3 up, Vec3 forward,
                                   RTCRay16& __restrict ray, int* __restrict ordinary) {
    for (int i = 0; i < kLanes; ++i) {
        const float u = rasterX[i] * xScale - 1.0f;
        const float v = rasterY[i] * yScale - 1.0f;
        const float dx = u * right.x + v * up.x + forward.x;
        const float dy = u * right.y + v * up.y + forward.y;
        const float dz = u * right.z + v * up.z + forward.z;
        const float lengthSquared = dx * dx + dy * dy + dz * dz;
        const float inverse = 1.0f / std::sqrt(lengthSquared);
        const int usual = (lengthSquared > 1e-30f) & (lengthSquared < 1e30f);
        ray.dir_x[i] = usual ? dx * inverse : 0.0f;
        ray.dir_y[i] = usual ? dy * inverse : 0.0f;
        ray.dir_z[i] = usual ? dz * inverse : 1.0f;
        ordinary[i] = usual;
    }
}

void PinholeProjector::Lanes(Packet& packet) const {
    int ordinary[kLanes];
    RTCRay16& ray = packet.rays.ray;
    PinholeLanes(packet.rasterX, packet.rasterY, xScale_, yScale_, right_, up_, forward_, ray,
                 ordinary);
    const bool originUsable = IsFinite(origin_) && MaxAbs(origin_) <= kLargestCoordinate;
    ReadyLanes(packet, ordinary);
    for (int i = 0; i < packet.count; ++i) {
        if (!ordinary[i] || !originUsable) {
            const Ray r = At(packet.rasterX[i], packet.rasterY[i]);
            SetLane(packet, i, r.origin, r.direction);
            continue;
        }
        ray.org_x[i] = origin_.x;
        ray.org_y[i] = origin_.y;
        ray.org_z[i] = origin_.z;
    }
}

// The rays a batch function answered, across all lanes at once as SetLane would form each one,
// and SetLane itself for the lanes out of the ordinary range. Lanes it gave a colour for are
// left to the caller (a flag of a byte apiece would keep this loop out of vector registers).
KORVO_LANE_LOOPS void BatchLanes(const CameraSampleBatch& __restrict batch,
                                 RTCRay16& __restrict ray, int* __restrict ordinary) {
    for (int i = 0; i < kLanes; ++i) {
        const float ox = batch.originX[i], oy = batch.originY[i], oz = batch.originZ[i];
        const float dx = batch.directionX[i], dy = batch.directionY[i], dz = batch.directionZ[i];
        const float lengthSquared = dx * dx + dy * dy + dz * dz;
        const float inverse = 1.0f / std::sqrt(lengthSquared);
        // Comparisons are false for NaN, so non-finite rays leave the ordinary range too.
        const int usual = (lengthSquared > 1e-30f) & (lengthSquared < 1e30f) &
                          (std::abs(ox) <= kLargestCoordinate) &
                          (std::abs(oy) <= kLargestCoordinate) &
                          (std::abs(oz) <= kLargestCoordinate);
        ray.org_x[i] = usual ? ox : 0.0f;
        ray.org_y[i] = usual ? oy : 0.0f;
        ray.org_z[i] = usual ? oz : 0.0f;
        ray.dir_x[i] = usual ? dx * inverse : 0.0f;
        ray.dir_y[i] = usual ? dy * inverse : 0.0f;
        ray.dir_z[i] = usual ? dz * inverse : 1.0f;
        ordinary[i] = usual;
    }
}

// Asks the batch function for the packet's first `count` samples and sets their lanes.
void BatchSamples(Packet& packet, CameraSampleBatch& batch, const RayBatchFunction& function) {
    batch.count = packet.count;
    // Every lane, so that the copies are a few vector moves rather than calls; the function reads
    // only the first `count`.
    static_assert(sizeof(batch.rasterX) == sizeof(packet.rasterX), "a batch holds a packet");
    std::memcpy(batch.rasterX, packet.rasterX, sizeof(batch.rasterX));
    std::memcpy(batch.rasterY, packet.rasterY, sizeof(batch.rasterY));
    std::fill_n(batch.given, kLanes, false);
    function(batch);
    int ordinary[kLanes];
    RTCRay16& ray = packet.rays.ray;
    BatchLanes(batch, ray, ordinary);
    // Lanes given a colour are left out of the trace; most batches give none.
    std::uint64_t givenWords[kLanes / 8];
    static_assert(sizeof(givenWords) == sizeof(batch.given), "the flags fill the words");
    std::memcpy(givenWords, batch.given, sizeof(givenWords));
    if (givenWords[0] | givenWords[1]) {
        for (int i = 0; i < kLanes; ++i) ordinary[i] &= !batch.given[i];
    }
    ReadyLanes(packet, ordinary);
    for (int i = 0; i < packet.count; ++i) {
        if (ordinary[i]) continue;
        if (batch.given[i]) {
            SetLane(packet, i, {}, {});
            packet.colors[i] = batch.colors[i];
            packet.given[i] = 1;
            continue;
        }
        SetLane(packet, i, {batch.originX[i], batch.originY[i], batch.originZ[i]},
                {batch.directionX[i], batch.directionY[i], batch.directionZ[i]});
    }
}

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
    shading.plain =
        shading.normals.empty() && shading.vertexColors.empty() && shading.triangleColors.empty();
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

    // Shades the lanes of a packet whose first hits are in packet.rays (valid lanes that hit
    // geometry) into their colours; occlude(packet) traces packet.shadows for the lanes
    // packet.shadowValid marks.
    template <typename Occlude>
    void ShadeHits(Packet& packet, const Occlude& occlude) const;
    // Traces the packet's rays in `scene`, one of the two the EmbreeScene holds, and shades
    // every lane into its colour.
    void Shade(Packet& packet, RTCScene scene) const;

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

namespace {

// The loops below run across all lanes, whatever each holds, with selects in place of branches,
// so that they compile to vector code (this file is built without errno or trap semantics for
// floats, which changes no result); lanes without a hit compute numbers nobody reads. The
// arithmetic is the same, operation for operation, as one ray at a time would take.

// Hit points, shadow ray offsets and the unit geometric normal turned towards the viewer
// (two-sided, whichever way the triangle winds); the shading normal starts as that normal.
KORVO_LANE_LOOPS void FindPoints(const RTCRayHit16& __restrict rays, LaneSurfaces& __restrict s) {
    const RTCRay16& r = rays.ray;
    const RTCHit16& h = rays.hit;
    for (int i = 0; i < kLanes; ++i) {
        const float t = r.tfar[i];
        const float px = r.org_x[i] + r.dir_x[i] * t;
        const float py = r.org_y[i] + r.dir_y[i] * t;
        const float pz = r.org_z[i] + r.dir_z[i] * t;
        s.px[i] = px;
        s.py[i] = py;
        s.pz[i] = pz;
        // Float error in the hit point grows with its coordinates and the distance travelled;
        // shadow rays start clear of it. Nothing scene-wide enters, so a vast ground plane does
        // not lift shadows off the contacts of small objects.
        const float largest = std::max(std::max(std::abs(px), std::abs(py)), std::abs(pz));
        s.offset[i] = 2e-5f * (largest + t);
        const float nx = h.Ng_x[i], ny = h.Ng_y[i], nz = h.Ng_z[i];
        const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
        const float scale = length > 0.0f ? 1.0f / length : 1.0f;
        float fx = length > 0.0f ? nx * scale : nx;
        float fy = length > 0.0f ? ny * scale : ny;
        float fz = length > 0.0f ? nz * scale : nz;
        const bool away = fx * r.dir_x[i] + fy * r.dir_y[i] + fz * r.dir_z[i] > 0.0f;
        fx = away ? -fx : fx;
        fy = away ? -fy : fy;
        fz = away ? -fz : fz;
        s.fx[i] = s.sx[i] = fx;
        s.fy[i] = s.sy[i] = fy;
        s.fz[i] = s.sz[i] = fz;
    }
}

// Fills in the shadow rays of a point light for every lane, marks the lanes that need one and
// sets the light each would bring; adds the light at once where it casts no shadows. Answers
// whether any lane needs a shadow ray.
// What both kinds of light do for lane i once its direction (tx, ty, tz) towards the light is
// known: the light's share at `weight` is added at once when the light casts no shadow and kept
// for the shadow test otherwise, and the lane's shadow ray starts clear of the surface.
[[gnu::always_inline]] inline void StoreLightLane(const Light& light, int i, int reaches,
                                                  float weight, float tx, float ty, float tz,
                                                  float tfar, LaneSurfaces& __restrict s,
                                                  RTCRay16& __restrict shadows,
                                                  int* __restrict shadowValid) {
    const int cast = light.castShadows ? 1 : 0;
    const float gr = light.radiance.r * weight, gg = light.radiance.g * weight,
                gb = light.radiance.b * weight;
    const int unshadowed = reaches & !cast;
    s.lr[i] += unshadowed ? gr : 0.0f;
    s.lg[i] += unshadowed ? gg : 0.0f;
    s.lb[i] += unshadowed ? gb : 0.0f;
    s.gr[i] = gr;
    s.gg[i] = gg;
    s.gb[i] = gb;
    const float offset = s.offset[i];
    // Lanes without a shadow ray get harmless numbers: Embree checks whole packets.
    shadows.org_x[i] = reaches ? s.px[i] + s.fx[i] * offset : 0.0f;
    shadows.org_y[i] = reaches ? s.py[i] + s.fy[i] * offset : 0.0f;
    shadows.org_z[i] = reaches ? s.pz[i] + s.fz[i] * offset : 0.0f;
    shadows.dir_x[i] = reaches ? tx : 0.0f;
    shadows.dir_y[i] = reaches ? ty : 0.0f;
    shadows.dir_z[i] = reaches ? tz : 1.0f;
    shadows.tfar[i] = tfar;
    shadowValid[i] = -(reaches & cast);
}

// Whether any lane of a valid mask is set.
[[gnu::always_inline]] inline int AnyLane(const int* __restrict valid) {
    int any = 0;
    for (int i = 0; i < kLanes; ++i) any |= valid[i];
    return any;
}

KORVO_LANE_LOOPS int PointLightRays(const Light& light, LaneSurfaces& __restrict s,
                                    RTCRay16& __restrict shadows, int* __restrict shadowValid) {
    const float lx = light.position.x, ly = light.position.y, lz = light.position.z;
    const float falloffScale = light.inverseFalloffSquared;
    for (int i = 0; i < kLanes; ++i) {
        float tx = lx - s.px[i], ty = ly - s.py[i], tz = lz - s.pz[i];
        const float distance = std::sqrt(tx * tx + ty * ty + tz * tz);
        const float inverse = 1.0f / distance;
        tx = tx * inverse;
        ty = ty * inverse;
        tz = tz * inverse;
        const float cosine = tx * s.sx[i] + ty * s.sy[i] + tz * s.sz[i];
        // The light must be on the side the surface is seen from.
        const int reaches = (s.hit[i] != 0) & (distance > 0.0f) &
                            (tx * s.fx[i] + ty * s.fy[i] + tz * s.fz[i] > 0.0f) & (cosine > 0.0f);
        const float falloff = 1.0f / (1.0f + distance * distance * falloffScale);
        // Stop short of the light so that geometry right at the light cannot shadow it.
        const float length = distance - 2.0f * s.offset[i];
        const float tfar = reaches & (0.0f < length) ? length : 0.0f;
        StoreLightLane(light, i, reaches, cosine * falloff, tx, ty, tz, tfar, s, shadows,
                       shadowValid);
    }
    return AnyLane(shadowValid);
}

KORVO_LANE_LOOPS int DirectionalLightRays(const Light& light, LaneSurfaces& __restrict s,
                                          RTCRay16& __restrict shadows,
                                          int* __restrict shadowValid) {
    const float tx = light.toLight.x, ty = light.toLight.y, tz = light.toLight.z;
    const float infinity = std::numeric_limits<float>::infinity();
    for (int i = 0; i < kLanes; ++i) {
        const float cosine = tx * s.sx[i] + ty * s.sy[i] + tz * s.sz[i];
        const int reaches =
            (s.hit[i] != 0) & (tx * s.fx[i] + ty * s.fy[i] + tz * s.fz[i] > 0.0f) & (cosine > 0.0f);
        StoreLightLane(light, i, reaches, cosine, tx, ty, tz, infinity, s, shadows, shadowValid);
    }
    return AnyLane(shadowValid);
}

// Marks the lanes whose traced rays hit geometry (not those the camera gave a colour) and starts
// their light at the ambient. Answers whether any lane hit.
KORVO_LANE_LOOPS int FindHits(const int* __restrict valid, const int* __restrict given,
                              const unsigned* __restrict geomID, const Rgb& ambient,
                              LaneSurfaces& __restrict s) {
    int hits = 0;
    for (int i = 0; i < kLanes; ++i) {
        const int lane = (valid[i] != 0) & (given[i] == 0) & (geomID[i] != RTC_INVALID_GEOMETRY_ID);
        s.hit[i] = -lane;
        hits |= lane;
        s.lr[i] = ambient.r;
        s.lg[i] = ambient.g;
        s.lb[i] = ambient.b;
    }
    return hits;
}

// The colour of every lane up to `count` that the camera did not give: albedo × light where the
// ray hit, the background elsewhere (misses and unusable rays). Other lanes keep theirs.
KORVO_LANE_LOOPS void StoreColours(const LaneSurfaces& __restrict s, const int* __restrict given,
                                   int count, Rgba background, Rgba* __restrict colors) {
    for (int i = 0; i < kLanes; ++i) {
        const int hit = s.hit[i] != 0;
        const int keep = (given[i] != 0) | (i >= count);
        const float r = colors[i].r, g = colors[i].g, b = colors[i].b, a = colors[i].a;
        colors[i].r = hit ? s.ar[i] * s.lr[i] : keep ? r : background.r;
        colors[i].g = hit ? s.ag[i] * s.lg[i] : keep ? g : background.g;
        colors[i].b = hit ? s.ab[i] * s.lb[i] : keep ? b : background.b;
        colors[i].a = hit ? 1.0f : keep ? a : background.a;
    }
}

// Embree marks a blocked shadow ray by setting tfar to −infinity.
KORVO_LANE_LOOPS void AddUnblocked(LaneSurfaces& __restrict s, const RTCRay16& __restrict shadows,
                                   const int* __restrict shadowValid) {
    for (int i = 0; i < kLanes; ++i) {
        const int lit = (shadowValid[i] != 0) & (shadows.tfar[i] >= 0.0f);
        s.lr[i] += lit ? s.gr[i] : 0.0f;
        s.lg[i] += lit ? s.gg[i] : 0.0f;
        s.lb[i] += lit ? s.gb[i] : 0.0f;
    }
}

}  // namespace

template <typename Occlude>
void RayTracer::Impl::ShadeHits(Packet& packet, const Occlude& occlude) const {
    LaneSurfaces& s = packet.surfaces;
    const RTCHit16& hit = packet.rays.hit;
    // Lanes past the count are never valid
    if (!FindHits(packet.valid, packet.given, hit.geomID, ambient, s)) {
        StoreColours(s, packet.given, packet.count, background, packet.colors);
        return;
    }
    FindPoints(packet.rays, s);

    // Colours and interpolated normals of the meshes hit
    for (int i = 0; i < kLanes; ++i) {
        if (!s.hit[i]) continue;
        const MeshShading& mesh = meshes[hit.geomID[i]];
        if (mesh.plain) {
            s.ar[i] = mesh.color.r;
            s.ag[i] = mesh.color.g;
            s.ab[i] = mesh.color.b;
            continue;
        }
        const unsigned primID = hit.primID[i];
        const float u = hit.u[i], v = hit.v[i], w = 1.0f - u - v;
        const std::uint32_t* corner = mesh.indices.empty() ? nullptr : &mesh.indices[3 * primID];
        if (!mesh.normals.empty()) {
            const Vec3 n = Normalize(w * mesh.normals[corner[0]] + u * mesh.normals[corner[1]] +
                                     v * mesh.normals[corner[2]]);
            // A zero or flipped interpolated normal falls back to, or follows, the facing side.
            if (Dot(n, n) > 0.0f) {
                const Vec3 facing{s.fx[i], s.fy[i], s.fz[i]};
                const Vec3 shading = Dot(n, facing) < 0.0f ? -n : n;
                s.sx[i] = shading.x;
                s.sy[i] = shading.y;
                s.sz[i] = shading.z;
            }
        }
        Rgb albedo = mesh.color;
        if (!mesh.triangleColors.empty()) {
            albedo = mesh.triangleColors[primID];
        } else if (!mesh.vertexColors.empty()) {
            albedo = mesh.vertexColors[corner[0]] * w + mesh.vertexColors[corner[1]] * u +
                     mesh.vertexColors[corner[2]] * v;
        }
        s.ar[i] = albedo.r;
        s.ag[i] = albedo.g;
        s.ab[i] = albedo.b;
    }

    // Lambert from each light, the shadow rays of all lanes in one packet
    for (const Light& light : lights) {
        const int any = light.directional
                            ? DirectionalLightRays(light, s, packet.shadows, packet.shadowValid)
                            : PointLightRays(light, s, packet.shadows, packet.shadowValid);
        if (!any) continue;
        occlude(packet);
        AddUnblocked(s, packet.shadows, packet.shadowValid);
    }

    StoreColours(s, packet.given, packet.count, background, packet.colors);
}

// Shadow rays start at the surface and carry nothing but their direction and length.
void ResetShadows(RTCRay16& shadows) {
    for (int i = 0; i < kLanes; ++i) {
        shadows.tnear[i] = 0.0f;
        shadows.time[i] = 0.0f;
        shadows.mask[i] = ~0u;
        shadows.id[i] = 0;
        shadows.flags[i] = 0;
    }
}

void RayTracer::Impl::Shade(Packet& packet, RTCScene scene) const {
    // Find the first hit of every ray
    for (int lane = packet.count; lane < kLanes; ++lane) packet.valid[lane] = 0;
    const bool any = AnyLane(packet.valid) != 0;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    // Skipped when the camera gave every colour itself, as a lens shader does.
    if (any) rtcIntersect16(packet.valid, scene, &context, &packet.rays);

    ResetShadows(packet.shadows);
    ShadeHits(packet, [&](Packet& p) {
        RTCIntersectContext shadowContext;
        rtcInitIntersectContext(&shadowContext);
        rtcOccluded16(p.shadowValid, scene, &shadowContext, &p.shadows);
    });
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
    // Shaded as the first lane of a packet, its shadow rays traced one by one. Per thread: a
    // ray function may call Trace while its worker is in the middle of a packet.
    thread_local Packet packet;
    RTCRay16& r = packet.rays.ray;
    RTCHit16& h = packet.rays.hit;
    for (int i = 0; i < kLanes; ++i) {
        r.org_x[i] = rayHit.ray.org_x;
        r.org_y[i] = rayHit.ray.org_y;
        r.org_z[i] = rayHit.ray.org_z;
        r.dir_x[i] = rayHit.ray.dir_x;
        r.dir_y[i] = rayHit.ray.dir_y;
        r.dir_z[i] = rayHit.ray.dir_z;
        r.tfar[i] = rayHit.ray.tfar;
        h.Ng_x[i] = rayHit.hit.Ng_x;
        h.Ng_y[i] = rayHit.hit.Ng_y;
        h.Ng_z[i] = rayHit.hit.Ng_z;
        h.u[i] = rayHit.hit.u;
        h.v[i] = rayHit.hit.v;
        h.geomID[i] = rayHit.hit.geomID;
        h.primID[i] = rayHit.hit.primID;
    }
    packet.count = 1;
    packet.valid[0] = -1;
    std::fill_n(packet.valid + 1, kLanes - 1, 0);
    packet.given[0] = 0;
    ResetShadows(packet.shadows);
    impl.ShadeHits(packet, [&](Packet& p) {
        RTCRay ray;
        ray.org_x = p.shadows.org_x[0];
        ray.org_y = p.shadows.org_y[0];
        ray.org_z = p.shadows.org_z[0];
        ray.tnear = 0.0f;
        ray.dir_x = p.shadows.dir_x[0];
        ray.dir_y = p.shadows.dir_y[0];
        ray.dir_z = p.shadows.dir_z[0];
        ray.time = 0.0f;
        ray.tfar = p.shadows.tfar[0];
        ray.mask = ~0u;
        ray.id = 0;
        ray.flags = 0;
        RTCIntersectContext shadowContext;
        rtcInitIntersectContext(&shadowContext);
        rtcOccluded1(impl.embree->Handle(), &shadowContext, &ray);
        p.shadows.tfar[0] = ray.tfar;
    });
    result.color = packet.colors[0];
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

// The 8-bit codes of an image's centre samples, four bytes a pixel, in rows of `stride` pixels
// with a ring of one pixel around the image that repeats its edge: a pixel at the edge compares
// only with the neighbours it has. Rows have room for a group of kFlatGroup pixels to be read past
// the right edge. Filled tile by tile: each tile writes its own pixels and the ring beside them.
struct CentreCodes {
    std::unique_ptr<std::uint8_t[]> bytes;
    int width = 0;
    int height = 0;
    int stride = 0;

    CentreCodes(int w, int h)
        : bytes(std::make_unique_for_overwrite<std::uint8_t[]>(Size(w, h))),
          width(w),
          height(h),
          stride(w + 2 + kFlatGroup) {}
    static std::size_t Size(int w, int h) { return std::size_t(h + 2) * (w + 2 + kFlatGroup) * 4; }

    // The code of image pixel (x, y), −1 ≤ x ≤ width + kFlatGroup, −1 ≤ y ≤ height.
    std::uint8_t* At(int x, int y) { return &bytes[(std::size_t(y + 1) * stride + (x + 1)) * 4]; }

    // Encodes row y of [x0, x1) and the ring beside it, and zeroes the room past the right edge.
    void FillRow(const Rgba* centres, int x0, int x1, int y) {
        std::uint8_t* row = At(x0, y);
        EncodeSrgb8Rgba({&centres[0].r, std::size_t(x1 - x0) * 4}, {row, std::size_t(x1 - x0) * 4});
        if (x0 == 0) std::copy_n(row, 4, row - 4);
        if (x1 == width) {
            std::copy_n(At(width - 1, y), 4, At(width, y));
            std::fill_n(At(width + 1, y), kFlatGroup * 4, 0);
        }
    }
    // Once rows [y0, y1) of [x0, x1) are filled: the ring above or below them at the image's
    // top or bottom edge.
    void FillRing(int x0, int x1, int y0, int y1) {
        const int from = x0 == 0 ? -1 : x0, to = x1 == width ? width + 1 + kFlatGroup : x1;
        const std::size_t bytesAcross = std::size_t(to - from) * 4;
        if (y0 == 0) std::copy_n(At(from, 0), bytesAcross, At(from, -1));
        if (y1 == height) std::copy_n(At(from, height - 1), bytesAcross, At(from, height));
    }
};

// One worker's scratch, reused from tile to tile.
struct TileScratch {
    Packet packet;
    CameraSampleBatch batch{};  // batch cameras: the samples of the packet being filled
    int targets[kLanes];        // the slot each lane's colour is added to
    std::vector<Rgba> sums;
    std::vector<int> refined;  // adaptive: the pixels of the tile that take the full grid
    RTCScene scene = nullptr;  // where the tile's rays are traced
};

static_assert(kBlockSide * kBlockSide == kLanes, "a block fills one packet");

// The centres of the pixels of the block at (bx, by) into the lanes of a packet, in the order
// ForBlocks visits them, with the slots of a tile `tileWidth` across whose block starts at
// `firstSlot`.
KORVO_LANE_LOOPS void BlockLanes(int bx, int by, int height, int firstSlot, int tileWidth,
                                 float* __restrict rasterX, float* __restrict rasterY,
                                 int* __restrict targets) {
    for (int i = 0; i < kLanes; ++i) {
        const int dx = i % kBlockSide, dy = i / kBlockSide;
        rasterX[i] = float(bx + dx) + 0.5f;
        rasterY[i] = float(height - (by + dy)) - 0.5f;
        targets[i] = firstSlot + dy * tileWidth + dx;
    }
}

// Adds a block's colours, lane by lane as BlockLanes placed them, to its slots in rows `stride`
// apart.
KORVO_LANE_LOOPS void AddBlock(const Rgba* __restrict colors, Rgba* __restrict sums, int stride) {
    for (int row = 0; row < kBlockSide; ++row) {
        const float* from = &colors[row * kBlockSide].r;
        float* to = &sums[std::ptrdiff_t(row) * stride].r;
        for (int k = 0; k < 4 * kBlockSide; ++k) to[k] += from[k];
    }
}

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

// For the four pixels from `own` to the right, in rows `rowBytes` apart: bit k set when pixel k
// lies within the tolerance of all eight neighbours in every channel.
int FlatGroup(const std::uint8_t* own, std::ptrdiff_t rowBytes) {
    const __m128i tolerance = _mm_set1_epi8(char(kFlatTolerance));
    const __m128i centre = _mm_loadu_si128(reinterpret_cast<const __m128i*>(own));
    auto over = [&](std::ptrdiff_t offset) {
        const __m128i other = _mm_loadu_si128(reinterpret_cast<const __m128i*>(own + offset));
        const __m128i difference =
            _mm_or_si128(_mm_subs_epu8(centre, other), _mm_subs_epu8(other, centre));
        return _mm_subs_epu8(difference, tolerance);
    };
    const __m128i above =
        _mm_or_si128(_mm_or_si128(over(-rowBytes - 4), over(-rowBytes)), over(-rowBytes + 4));
    const __m128i beside = _mm_or_si128(over(-4), over(4));
    const __m128i below =
        _mm_or_si128(_mm_or_si128(over(rowBytes - 4), over(rowBytes)), over(rowBytes + 4));
    const __m128i all = _mm_or_si128(_mm_or_si128(above, beside), below);
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(all, _mm_setzero_si128())));
}

#if defined(__GNUC__) && defined(__x86_64__)
[[gnu::always_inline]] __attribute__((target("avx512bw"))) inline __m512i OverTolerance(
    __m512i centre, const std::uint8_t* other) {
    const __m512i neighbour = _mm512_loadu_si512(other);
    const __m512i difference =
        _mm512_or_si512(_mm512_subs_epu8(centre, neighbour), _mm512_subs_epu8(neighbour, centre));
    return _mm512_subs_epu8(difference, _mm512_set1_epi8(char(kFlatTolerance)));
}

// FlatGroup for sixteen pixels in one go.
__attribute__((target("avx512bw"))) int FlatSixteen(const std::uint8_t* own,
                                                    std::ptrdiff_t rowBytes) {
    const __m512i centre = _mm512_loadu_si512(own);
    const std::uint8_t* above = own - rowBytes;
    const std::uint8_t* below = own + rowBytes;
    const __m512i sides =
        _mm512_or_si512(OverTolerance(centre, own - 4), OverTolerance(centre, own + 4));
    const __m512i top = _mm512_or_si512(
        _mm512_or_si512(OverTolerance(centre, above - 4), OverTolerance(centre, above)),
        OverTolerance(centre, above + 4));
    const __m512i bottom = _mm512_or_si512(
        _mm512_or_si512(OverTolerance(centre, below - 4), OverTolerance(centre, below)),
        OverTolerance(centre, below + 4));
    const __m512i all = _mm512_or_si512(_mm512_or_si512(top, sides), bottom);
    return _mm512_testn_epi32_mask(all, all);
}
#endif

// FlatGroup for the kFlatGroup pixels from `own` to the right: bit k for pixel k.
int FlatGroups(const std::uint8_t* own, std::ptrdiff_t rowBytes) {
#if defined(__GNUC__) && defined(__x86_64__)
    static const bool avx512 = __builtin_cpu_supports("avx512bw");
    if (avx512) return FlatSixteen(own, rowBytes);
#endif
    int flat = 0;
    for (int k = 0; k < kFlatGroup; k += 4) flat |= FlatGroup(own + 4 * k, rowBytes) << k;
    return flat;
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
    const auto* rayBatch = std::get_if<RayBatchFunction>(&camera);
    if (rayFunction && !*rayFunction) return false;
    if (rayBatch && !*rayBatch) return false;

    const RenderLayout layout(width, height, options);
    // Adaptive renders take two passes over the tiles: every centre first, then the grids.
    const int passes = layout.adaptive ? 2 : 1;
    if (layout.TileCount() * passes > INT_MAX) return false;
    const int tileCount = int(layout.TileCount());
    std::optional<PinholeProjector> projector;
    if (pinhole) projector.emplace(*pinhole, width, height);

    std::vector<TileScratch> scratch(WorkerCount(options.threadCount, tileCount));
    const int n = layout.samplesPerAxis;
    const float sampleStep = 1.0f / float(n);
    const float weight = 1.0f / float(layout.samplesPerPixel);

    // Samples are queued into the worker's packet, traced when it is full, and their colours
    // added to their slots in `sums`.
    auto trace = [&](TileScratch& t) {
        Packet& packet = t.packet;
        if (projector) projector->Lanes(packet);
        if (rayBatch) BatchSamples(packet, t.batch, *rayBatch);
        Shade(packet, t.scene);
    };
    auto flush = [&](TileScratch& t, std::vector<Rgba>& sums) {
        Packet& packet = t.packet;
        if (packet.count == 0) return;
        trace(t);
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
        if (!rayFunction) {
            packet.rasterX[lane] = rasterX;
            packet.rasterY[lane] = rasterY;
        } else {
            CameraSample sample = (*rayFunction)(rasterX, rasterY);
            if (const Ray* ray = std::get_if<Ray>(&sample)) {
                SetLane(packet, lane, ray->origin, ray->direction);
            } else {
                SetLane(packet, lane, {}, {});
                packet.colors[lane] = std::get<Rgba>(sample);
                packet.given[lane] = 1;
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

    std::optional<CentreCodes> codes;
    if (layout.adaptive && tileCount > 0) codes.emplace(width, height);

    auto renderTile = [&](int task, int worker) {
        TileScratch& t = scratch[worker];
        const int pass = task / tileCount, tile = task % tileCount;
        // The centres of an adaptive render are checked against their neighbours afterwards,
        // so they may be traced in the quick scene; every other sample is final.
        t.scene = layout.adaptive && pass == 0 ? embree->Quick() : embree->Handle();
        const int x0 = (tile % layout.tilesX) * layout.tileSize;
        const int y0 = (tile / layout.tilesX) * layout.tileSize;
        const int x1 = std::min(x0 + layout.tileSize, width);
        const int y1 = std::min(y0 + layout.tileSize, height);
        const int tileWidth = x1 - x0;
        if (pass == 0) {
            // Sums start at +0, all bits clear
            t.sums.resize(std::size_t(tileWidth) * (y1 - y0));
            std::memset(static_cast<void*>(t.sums.data()), 0, t.sums.size() * sizeof(Rgba));
        } else {
            t.sums.clear();
        }
        auto slot = [&](int x, int y) { return (y - y0) * tileWidth + (x - x0); };
        // The centre sample of every pixel of the tile. A whole block that starts a packet fills
        // it at once; the lanes and their order are those add() would queue.
        auto addCentres = [&] {
            for (int by = y0; by < y1; by += kBlockSide) {
                for (int bx = x0; bx < x1; bx += kBlockSide) {
                    const int ex = std::min(bx + kBlockSide, x1),
                              ey = std::min(by + kBlockSide, y1);
                    if (!rayFunction && t.packet.count == 0 && ex - bx == kBlockSide &&
                        ey - by == kBlockSide) {
                        const int first = slot(bx, by);
                        BlockLanes(bx, by, height, first, tileWidth, t.packet.rasterX,
                                   t.packet.rasterY, t.targets);
                        t.packet.count = kLanes;
                        trace(t);
                        AddBlock(t.packet.colors, &t.sums[first], tileWidth);
                        t.packet.count = 0;
                        continue;
                    }
                    for (int y = by; y < ey; ++y) {
                        for (int x = bx; x < ex; ++x)
                            add(t, float(x) + 0.5f, float(height - y) - 0.5f, slot(x, y), t.sums);
                    }
                }
            }
        };

        if (!layout.adaptive) {
            if (n == 1) {
                addCentres();
            } else {
                ForBlocks(x0, x1, y0, y1,
                          [&](int x, int y) { addGrid(t, x, y, slot(x, y), t.sums); });
            }
            flush(t, t.sums);
            for (int y = y0; y < y1; ++y) {
                Rgba* row = &t.sums[slot(x0, y)];
                if (layout.samplesPerPixel > 1) {
                    for (int x = 0; x < tileWidth; ++x) row[x] = average(row[x]);
                }
                StoreRow(row, tileWidth, &pixels[(std::size_t(y) * width + x0) * 4]);
            }
            return;
        }

        // Adaptive, first pass: the centre sample of every pixel of the tile, as the pixel's
        // colour and as its code for the flatness test of the second pass.
        if (pass == 0) {
            addCentres();
            flush(t, t.sums);
            for (int y = y0; y < y1; ++y) {
                const Rgba* centres = &t.sums[slot(x0, y)];
                codes->FillRow(centres, x0, x1, y);
                Pixel* out = &pixels[(std::size_t(y) * width + x0) * 4];
                if constexpr (std::is_same_v<Pixel, std::uint8_t>) {
                    std::copy_n(codes->At(x0, y), std::size_t(tileWidth) * 4, out);
                } else {
                    StoreRow(centres, tileWidth, out);
                }
            }
            codes->FillRing(x0, x1, y0, y1);
            return;
        }

        // Second pass: the full grid where a centre stands out from its neighbourhood. The
        // codes are only read here, so every tile sees the centres its neighbours traced.
        t.refined.clear();
        const std::ptrdiff_t rowBytes = std::ptrdiff_t(codes->stride) * 4;
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* codeRow = codes->At(0, y);
            for (int x = x0; x < x1; x += kFlatGroup) {
                const int flat = FlatGroups(codeRow + std::ptrdiff_t(x) * 4, rowBytes);
                const int inside = std::min(kFlatGroup, x1 - x);
                const int all = int((1u << inside) - 1);
                if ((flat & all) == all) continue;  // as most groups are
                for (int k = 0; k < inside; ++k) {
                    if (flat & (1 << k)) continue;
                    const int target = int(t.refined.size());
                    t.refined.push_back(slot(x + k, y));
                    t.sums.push_back(Rgba{});
                    addGrid(t, x + k, y, target, t.sums);
                }
            }
        }
        flush(t, t.sums);
        for (std::size_t i = 0; i < t.refined.size(); ++i) {
            const int s = t.refined[i];
            const Rgba pixel = average(t.sums[i]);
            const int x = x0 + s % tileWidth, y = y0 + s / tileWidth;
            StoreRow(&pixel, 1, &pixels[(std::size_t(y) * width + x) * 4]);
        }
    };
    return RunTiles(tileCount, options.threadCount, renderTile, progress, passes);
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
