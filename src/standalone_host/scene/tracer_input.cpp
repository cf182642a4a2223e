#include "standalone_host/scene/tracer_input.h"

#include "standalone_host/raytracer/primitives.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {
namespace {

// Enough facets that a sphere filling a 90-degree view shows no corners.
constexpr int kSphereSegments = 64;
constexpr Color kDefaultColor{0.8f, 0.8f, 0.8f};

Vec3 ToVec(const Point3& p) { return {p.x, p.y, p.z}; }
Rgb ToRgb(const Color& c) { return {c.r, c.g, c.b}; }

Transform ToTransform(const Matrix3& m) {
    return {ToVec(m.GetRow(0)), ToVec(m.GetRow(1)), ToVec(m.GetRow(2)), ToVec(m.GetTrans())};
}

TriangleMesh ModelMesh(const ImportedModel& model) {
    TriangleMesh mesh;
    mesh.positions.reserve(model.positions.size());
    for (const Point3& p : model.positions) mesh.positions.push_back(ToVec(p));
    for (const Point3& n : model.normals) mesh.normals.push_back(ToVec(n));
    mesh.indices = model.indices;
    for (const Color& c : model.triangleColors) mesh.triangleColors.push_back(ToRgb(c));
    return mesh;
}

TriangleMesh LocalMesh(const SceneMesh& object) {
    TriangleMesh mesh;
    if (const auto* box = std::get_if<BoxShape>(&object.shape))
        mesh = MakeBox(box->size.x, box->size.y, box->size.z);
    else if (const auto* plane = std::get_if<PlaneShape>(&object.shape))
        mesh = MakePlane(plane->width, plane->length);
    else if (const auto* sphere = std::get_if<SphereShape>(&object.shape))
        mesh = MakeSphere(sphere->radius, kSphereSegments);
    else
        mesh = ModelMesh(*std::get<ModelShape>(object.shape).model);
    // A colour given for the mesh wins over a model's own.
    if (object.color) mesh.triangleColors.clear();
    mesh.color = ToRgb(object.color.value_or(kDefaultColor));
    return mesh;
}

}  // namespace

TracerScene MakeTracerScene(Scene& scene) {
    TracerScene out;
    out.ambient = ToRgb(scene.ambient);
    out.background = ToRgb(scene.background);
    for (INode* node : scene.Nodes()) {
        Object* object = node->EvalWorldState(0).obj;
        if (!object) continue;
        const Matrix3 world = node->GetNodeTM(0);
        if (const auto* mesh = dynamic_cast<const SceneMesh*>(object)) {
            out.meshes.push_back(PlaceMesh(LocalMesh(*mesh), ToTransform(world)));
        } else if (const auto* light = dynamic_cast<const SceneLight*>(object)) {
            const LightSettings& s = light->settings;
            if (s.type == LightType::Omni)
                out.pointLights.push_back({ToVec(world.GetTrans()), ToRgb(s.color), s.intensity,
                                           s.castShadows, s.falloff});
            else
                out.directionalLights.push_back({Normalize(ToVec(-world.GetRow(2))), ToRgb(s.color),
                                                 s.intensity, s.castShadows});
        }
    }
    return out;
}

// The same walk as MakeTracerScene's, keeping what it reads.
TracerSceneInputs ReadTracerSceneInputs(Scene& scene) {
    TracerSceneInputs inputs;
    inputs.ambient = scene.ambient;
    inputs.background = scene.background;
    for (INode* node : scene.Nodes()) {
        Object* object = node->EvalWorldState(0).obj;
        if (!object) continue;
        if (const auto* mesh = dynamic_cast<const SceneMesh*>(object)) {
            inputs.objects.emplace_back(
                TracerSceneInputs::Mesh{mesh->shape, mesh->color, node->GetNodeTM(0)});
        } else if (const auto* light = dynamic_cast<const SceneLight*>(object)) {
            inputs.objects.emplace_back(
                TracerSceneInputs::Light{light->settings, node->GetNodeTM(0)});
        }
    }
    return inputs;
}

}  // namespace KorvoHost
