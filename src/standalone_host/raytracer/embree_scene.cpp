#include "standalone_host/raytracer/embree_scene.h"

#include <cstring>

namespace KorvoHost {
namespace {

struct GeometryRelease {
    void operator()(RTCGeometry geometry) const { rtcReleaseGeometry(geometry); }
};
using GeometryHandle = std::unique_ptr<RTCGeometryTy, GeometryRelease>;

static_assert(sizeof(Vec3) == 3 * sizeof(float), "vertex buffers are copied as float triples");

}  // namespace

void EmbreeScene::OnError(void* log, RTCError code, const char* message) {
    auto* errors = static_cast<ErrorLog*>(log);
    // Called from inside Embree: nothing may escape from here.
    try {
        std::lock_guard lock(errors->mutex);
        if (errors->first.empty()) {
            errors->first = "Embree error " + std::to_string(int(code)) + ": " +
                            (message ? message : "no description");
        }
    } catch (...) {
    }
}

std::string EmbreeScene::TakeError(const char* fallback) {
    std::lock_guard lock(errors_->mutex);
    std::string error = errors_->first.empty() ? fallback : errors_->first;
    errors_->first.clear();
    return error;
}

std::unique_ptr<EmbreeScene> EmbreeScene::Build(std::span<const TriangleMesh> meshes,
                                                std::string& error) {
    auto built = std::make_unique<EmbreeScene>();
    built->device_.reset(rtcNewDevice(nullptr));
    if (!built->device_) {
        error = "cannot start Embree (error " + std::to_string(int(rtcGetDeviceError(nullptr))) +
                "); the processor may lack SSE2";
        return nullptr;
    }
    rtcSetDeviceErrorFunction(built->device_.get(), OnError, built->errors_.get());

    built->scene_.reset(rtcNewScene(built->device_.get()));
    if (!built->scene_) {
        error = built->TakeError("cannot create an Embree scene");
        return nullptr;
    }
    // Robust mode makes the triangle test watertight, so rays along a shared edge (the corner
    // of a room, the diagonal of a wall) cannot slip through between two triangles.
    rtcSetSceneFlags(built->scene_.get(), RTC_SCENE_FLAG_ROBUST);
    std::size_t triangleCount = 0;
    for (const TriangleMesh& mesh : meshes) triangleCount += mesh.indices.size() / 3;
    if (triangleCount <= kQuickSceneTriangles) {
        // Embree's own triangle test, with its default flags; the geometry is shared.
        built->quick_.reset(rtcNewScene(built->device_.get()));
        if (!built->quick_) {
            error = built->TakeError("cannot create an Embree scene");
            return nullptr;
        }
    }

    for (std::size_t id = 0; id < meshes.size(); ++id) {
        const TriangleMesh& mesh = meshes[id];
        const std::size_t triangles = mesh.indices.size() / 3;
        if (triangles == 0 || mesh.positions.empty()) continue;

        GeometryHandle geometry(rtcNewGeometry(built->device_.get(), RTC_GEOMETRY_TYPE_TRIANGLE));
        void* vertices = geometry ? rtcSetNewGeometryBuffer(geometry.get(), RTC_BUFFER_TYPE_VERTEX,
                                                            0, RTC_FORMAT_FLOAT3, sizeof(Vec3),
                                                            mesh.positions.size())
                                  : nullptr;
        void* indices = vertices ? rtcSetNewGeometryBuffer(geometry.get(), RTC_BUFFER_TYPE_INDEX, 0,
                                                           RTC_FORMAT_UINT3,
                                                           3 * sizeof(std::uint32_t), triangles)
                                 : nullptr;
        if (!indices) {
            error = "mesh " + std::to_string(id) + ": " +
                    built->TakeError("cannot create its Embree geometry");
            return nullptr;
        }
        std::memcpy(vertices, mesh.positions.data(), mesh.positions.size() * sizeof(Vec3));
        std::memcpy(indices, mesh.indices.data(), triangles * 3 * sizeof(std::uint32_t));
        rtcCommitGeometry(geometry.get());
        rtcAttachGeometryByID(built->scene_.get(), geometry.get(), unsigned(id));
        if (built->quick_) rtcAttachGeometryByID(built->quick_.get(), geometry.get(), unsigned(id));
    }

    rtcCommitScene(built->scene_.get());
    if (built->quick_) rtcCommitScene(built->quick_.get());
    if (rtcGetDeviceError(built->device_.get()) != RTC_ERROR_NONE) {
        error = built->TakeError("cannot build the scene's BVH");
        return nullptr;
    }

    return built;
}

}  // namespace KorvoHost
