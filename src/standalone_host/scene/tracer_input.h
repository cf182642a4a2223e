// What the ray tracer draws of a scene.
#pragma once

#include "standalone_host/raytracer/tracer_scene.h"
#include "standalone_host/scene/scene.h"

namespace KorvoHost {

// Every mesh of the scene in world space with its colour, the lights, the ambient and the
// background, as the scene stands now. Primitives without a colour of their own are light grey.
TracerScene MakeTracerScene(Scene& scene);

}  // namespace KorvoHost
