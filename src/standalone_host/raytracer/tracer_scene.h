// What the ray tracer draws: plain data, everything in world space, colours as sRGB display
// values (the tracer shades in linear light).
#pragma once

#include <cstdint>
#include <vector>

#include "standalone_host/raytracer/vector_math.h"

namespace KorvoHost {

struct TriangleMesh {
    std::vector<Vec3> positions;
    // Three per triangle, counter-clockwise seen from the front (the side the normal points to).
    std::vector<std::uint32_t> indices;
    // Optional, one per position: smooth shading. Without them every triangle is flat.
    std::vector<Vec3> normals;
    Rgb color{0.8f, 0.8f, 0.8f};
    // Optional, for imported models: one colour per position (blended across each triangle) or
    // one per triangle. Per-triangle colours win when both are given; `color` is the fallback.
    std::vector<Rgb> vertexColors;
    std::vector<Rgb> triangleColors;

    bool operator==(const TriangleMesh&) const = default;
};

// The light reaching a surface at distance d is color · intensity · f(d), where
// f(d) = 1 / (1 + (d / falloffDistance)²): no falloff near the light, half at falloffDistance,
// then the inverse square. A falloffDistance of 0 (the default) or infinity means no falloff.
struct PointLight {
    Vec3 position;
    Rgb color{1.0f, 1.0f, 1.0f};
    float intensity = 1.0f;
    bool castShadows = true;
    float falloffDistance = 0.0f;

    bool operator==(const PointLight&) const = default;
};

// Parallel light travelling along `direction` (a sun), never falling off.
struct DirectionalLight {
    Vec3 direction{0.0f, 0.0f, -1.0f};
    Rgb color{1.0f, 1.0f, 1.0f};
    float intensity = 1.0f;
    bool castShadows = true;

    bool operator==(const DirectionalLight&) const = default;
};

struct TracerScene {
    std::vector<TriangleMesh> meshes;
    std::vector<PointLight> pointLights;
    std::vector<DirectionalLight> directionalLights;
    Rgb ambient{0.1f, 0.1f, 0.1f};
    Rgb background{0.0f, 0.0f, 0.0f};

    bool operator==(const TracerScene&) const = default;
};

}  // namespace KorvoHost
