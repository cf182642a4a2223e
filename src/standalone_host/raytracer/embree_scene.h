// Embree 3 device and scene as RAII handles.
#pragma once

#include <embree3/rtcore.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "standalone_host/raytracer/tracer_scene.h"

namespace KorvoHost {

class EmbreeScene {
  public:
    EmbreeScene() = default;
    // Scenes of more triangles than this have no quick scene: its BVH would hold as much
    // memory again as the watertight one's.
    static constexpr std::size_t kQuickSceneTriangles = std::size_t(1) << 22;

    // Builds the BVH over the meshes, one Embree geometry per non-empty mesh with the mesh's
    // index as geometry id. The meshes must already be checked (indices in range).
    static std::unique_ptr<EmbreeScene> Build(std::span<const TriangleMesh> meshes,
                                              std::string& error);

    // Watertight: a ray that meets an edge shared by two triangles hits one of them.
    RTCScene Handle() const { return scene_.get(); }
    // The same geometry with Embree's own triangle test, which traces about a third faster and
    // lets a ray through a shared edge now and then (in a box room about one ray in 10^8, most
    // of them grazing a corner). For samples that are checked afterwards, as the centres of an
    // adaptive render are: a centre that slipped through stands out from its neighbours, and
    // its pixel is traced again here on the full grid. The watertight scene itself when the
    // scene is too large.
    RTCScene Quick() const { return quick_ ? quick_.get() : scene_.get(); }

  private:
    struct DeviceRelease {
        void operator()(RTCDevice device) const { rtcReleaseDevice(device); }
    };
    struct SceneRelease {
        void operator()(RTCScene scene) const { rtcReleaseScene(scene); }
    };

    // Embree reports errors through a callback; the first one is kept for the caller.
    struct ErrorLog {
        std::mutex mutex;
        std::string first;
    };
    static void OnError(void* log, RTCError code, const char* message);

    std::string TakeError(const char* fallback);

    // Declared first so the scene is released before the device and both before the log that
    // the device's callback writes to.
    std::unique_ptr<ErrorLog> errors_ = std::make_unique<ErrorLog>();
    std::unique_ptr<RTCDeviceTy, DeviceRelease> device_;
    std::unique_ptr<RTCSceneTy, SceneRelease> scene_;
    std::unique_ptr<RTCSceneTy, SceneRelease> quick_;
};

}  // namespace KorvoHost
