// The renderer the core interface holds between OpenCurRenderer and CloseCurRenderer.
#pragma once

#include <memory>

#include "host/scene.h"
#include "standalone_host/core/host_interface.h"
#include "standalone_host/raytracer/ray_tracer.h"
#include "standalone_host/raytracer/tracer_scene.h"
#include "standalone_host/scene/tracer_input.h"

namespace KorvoHost {

struct HostInterface::OpenRenderer {
    INode* camera = nullptr;
    int width = 0, height = 0;
    std::shared_ptr<const RayTracer> tracer;
};

struct HostInterface::BuiltTracer {
    TracerSceneInputs inputs;  // what the scene was made from
    TracerScene scene;
    std::shared_ptr<const RayTracer> tracer;
};

}  // namespace KorvoHost
