// The scene as the ray tracer receives it.
#include "standalone_host/scene/tracer_input.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "standalone_host/scene/scene_file.h"

using namespace KorvoHost;

TEST(TracerInput, PlacesMeshesAndLightsInTheWorld) {
    const SceneLoadResult result =
        ParseSceneText(R"({
        "background": [0, 0, 1], "ambient": [0.2, 0.2, 0.2],
        "nodes": [
            {"name": "Shelf", "transform": {"position": [100, 0, 0], "rotation": [0, 0, 90]}},
            {"name": "Box", "parent": "Shelf", "transform": {"position": [0, 0, 50]},
             "mesh": {"type": "box", "size": [20, 10, 4], "color": [1, 0, 0]}},
            {"name": "Plain", "mesh": {"type": "sphere", "radius": 3}},
            {"name": "Cam", "camera": {}},
            {"name": "Lamp", "transform": {"position": [1, 2, 3]},
             "light": {"intensity": 2, "falloff": 300, "shadows": false}},
            {"name": "Sun", "transform": {"rotation": [-90, 0, 0]}, "light": {"type": "directional"}},
            {"name": "Model", "mesh": {"type": "model", "file": "pyramid.obj"}}
        ]})",
                       std::filesystem::path(KORVO_TEST_DATA) / "scene" / "x.json");
    ASSERT_NE(result.scene, nullptr) << result.error;
    const TracerScene tracer = MakeTracerScene(*result.scene);
    EXPECT_EQ(tracer.background, (Rgb{0, 0, 1}));
    EXPECT_EQ(tracer.ambient, (Rgb{0.2f, 0.2f, 0.2f}));
    ASSERT_EQ(tracer.meshes.size(), 3u) << "cameras and lights draw nothing";

    // The box turned 90 degrees with its parent: its 20-unit width now runs along Y.
    const TriangleMesh& box = tracer.meshes[0];
    EXPECT_EQ(box.color, (Rgb{1, 0, 0}));
    float minY = 1e9f, maxY = -1e9f, minZ = 1e9f, maxX = -1e9f;
    for (const Vec3& p : box.positions) {
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
        minZ = std::min(minZ, p.z);
        maxX = std::max(maxX, p.x);
    }
    EXPECT_NEAR(minY, -10.0f, 1e-4f);
    EXPECT_NEAR(maxY, 10.0f, 1e-4f);
    EXPECT_NEAR(minZ, 50.0f, 1e-4f);
    EXPECT_NEAR(maxX, 105.0f, 1e-4f);

    EXPECT_EQ(tracer.meshes[1].color, (Rgb{0.8f, 0.8f, 0.8f})) << "default colour";
    EXPECT_EQ(tracer.meshes[2].triangleColors.size(), 6u) << "the model keeps its materials";

    ASSERT_EQ(tracer.pointLights.size(), 1u);
    EXPECT_EQ(tracer.pointLights[0].position, (Vec3{1, 2, 3}));
    EXPECT_EQ(tracer.pointLights[0].intensity, 2.0f);
    EXPECT_EQ(tracer.pointLights[0].falloffDistance, 300.0f);
    EXPECT_FALSE(tracer.pointLights[0].castShadows);
    ASSERT_EQ(tracer.directionalLights.size(), 1u);
    const Vec3 d = tracer.directionalLights[0].direction;
    EXPECT_NEAR(d.y, -1.0f, 1e-6f) << "a directional light shines along its node's -Z";
}
