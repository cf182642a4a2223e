// Embree 3 device and scene as RAII handles.
#pragma once

#include <embree3/rtcore.h>

#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "standalone_host/raytracer/tracer_scene.h"

namespace KorvoHost {

class EmbreeScene {
  public:
    EmbreeScene() = default;
    // Builds the BVH over the meshes, one Embree geometry per non-empty mesh with the mesh's
    // index as geometry id. The meshes must already be checked (indices in range).
    static std::unique_ptr<EmbreeScene> Build(std::span<const TriangleMesh> meshes,
                                              std::string& error);

    RTCScene Handle() const { return scene_.get(); }

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
};

}  // namespace KorvoHost
