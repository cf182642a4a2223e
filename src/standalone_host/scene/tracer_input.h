// What the ray tracer draws of a scene.
#pragma once

#include <optional>
#include <variant>
#include <vector>

#include "standalone_host/raytracer/tracer_scene.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {

// Every mesh of the scene in world space with its colour, the lights, the ambient and the
// background, as the scene stands now. Primitives without a colour of their own are light grey.
TracerScene MakeTracerScene(Scene& scene);

// What MakeTracerScene reads of a scene, gathered without building a mesh: scenes with equal
// inputs make equal tracer scenes, so a renderer can keep the tracer it built for them.
struct TracerSceneInputs {
    struct Mesh {
        MeshShape shape;
        std::optional<Color> color;
        Matrix3 world;
        bool operator==(const Mesh&) const = default;
    };
    struct Light {
        LightSettings settings;
        Matrix3 world;
        bool operator==(const Light&) const = default;
    };
    Color ambient;
    Color background;
    std::vector<std::variant<Mesh, Light>> objects;  // in the scene's node order
    bool operator==(const TracerSceneInputs&) const = default;
};
TracerSceneInputs ReadTracerSceneInputs(Scene& scene);

}  // namespace KorvoHost
