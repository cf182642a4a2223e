// The objects a scene holds: parameter blocks, cameras, helpers, lights, meshes, derived objects
// and renderers. Every parameter write and dependency notification goes to the scene's record
// list.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/render.h"
#include "host/scene.h"
#include "standalone_host/scene/scene.h"

namespace KorvoHost {

using ParamValue = std::variant<int, float>;

// Values by parameter id (and table index). Any id accepts a write of either type.
class ParamBlock final : public IParamBlock2 {
  public:
    ParamBlock(std::vector<SceneRecord>& records, ReferenceTarget& owner, BlockID id)
        : records_(records), owner_(owner), id_(id) {}

    Class_ID ClassID() override { return {0x00000082, 0}; }
    BlockID ID() override { return id_; }
    int NumParams() override;
    // Ids in ascending order; -1 outside 0 .. NumParams() − 1.
    ParamID IndextoID(int index) override;
    MSTR GetParamName(ParamID id) override { return {}; }
    BOOL SetValue(ParamID id, TimeValue t, int value, int tabIndex = 0) override;
    BOOL SetValue(ParamID id, TimeValue t, float value, int tabIndex = 0) override;
    // An int parameter reads as float too; a float one does not read as int (FALSE).
    BOOL GetValue(ParamID id, TimeValue t, int& value, Interval& valid, int tabIndex = 0) override;
    BOOL GetValue(ParamID id, TimeValue t, float& value, Interval& valid,
                  int tabIndex = 0) override;
    void ResetAll(BOOL updateUI = TRUE, BOOL callSetHandlers = TRUE) override { values_.clear(); }
    RefResult NotifyDependents(const Interval& changeInt, PartID partID, RefMessage message,
                               SClass_ID sclass = NOTIFY_ALL, BOOL propagate = TRUE,
                               RefTargetHandle hTarg = nullptr,
                               NotifyDependentsOption option = REFNOTIFY_ALLOW_OPT_OUT) override;

    // (parameter id, table index) → value, without recording.
    const std::map<std::pair<ParamID, int>, ParamValue>& Values() const { return values_; }
    void Load(ParamID id, ParamValue value, int tabIndex = 0) { values_[{id, tabIndex}] = value; }

  private:
    BOOL Write(ParamID id, int tabIndex, ParamValue value);

    std::vector<SceneRecord>& records_;
    ReferenceTarget& owner_;
    BlockID id_;
    std::map<std::pair<ParamID, int>, ParamValue> values_;
};

RefResult RecordNotification(std::vector<SceneRecord>& records, ReferenceTarget* target,
                             const Interval& changeInt, PartID partID, RefMessage message,
                             SClass_ID sclass, BOOL propagate, RefTargetHandle hTarg,
                             NotifyDependentsOption option);

// What every scene object shares: a class id, a class name, parameter blocks and recording.
template <class Base>
class SceneObject : public Base {
  public:
    SceneObject(Scene& scene, Class_ID classId, std::wstring className)
        : scene_(scene), classId_(classId), className_(std::move(className)) {}

    Class_ID ClassID() override { return classId_; }
    void GetClassName(MSTR& name, bool localized = true) const override { name = className_; }
    int NumParamBlocks() override { return static_cast<int>(blocks_.size()); }
    IParamBlock2* GetParamBlock(int i) override {
        return i >= 0 && i < NumParamBlocks() ? blocks_[i].get() : nullptr;
    }
    IParamBlock2* GetParamBlockByID(BlockID id) override {
        for (auto& block : blocks_)
            if (block->ID() == id) return block.get();
        return nullptr;
    }
    RefResult NotifyDependents(const Interval& changeInt, PartID partID, RefMessage message,
                               SClass_ID sclass = NOTIFY_ALL, BOOL propagate = TRUE,
                               RefTargetHandle hTarg = nullptr,
                               NotifyDependentsOption option = REFNOTIFY_ALLOW_OPT_OUT) override {
        return RecordNotification(scene_.RecordList(), this, changeInt, partID, message, sclass,
                                  propagate, hTarg, option);
    }

    ParamBlock& AddParamBlock(BlockID id) {
        blocks_.push_back(std::make_unique<ParamBlock>(scene_.RecordList(), *this, id));
        return *blocks_.back();
    }
    const std::vector<std::unique_ptr<ParamBlock>>& ParamBlocks() const { return blocks_; }
    Scene& OwnerScene() const { return scene_; }

  private:
    Scene& scene_;
    Class_ID classId_;
    std::wstring className_;
    std::vector<std::unique_ptr<ParamBlock>> blocks_;
};

// A camera of any class id; free and target cameras are the host's own classes. It always has
// parameter block 0 for what a camera class of another maker keeps there.
class SceneCamera final : public SceneObject<CameraObject> {
  public:
    SceneCamera(Scene& scene, Class_ID classId);

    void SetOrtho(BOOL ortho) override { ortho_ = ortho != FALSE; }
    BOOL IsOrtho() override { return ortho_; }
    // Radians; a value outside 0 < fov < π is clamped into it, one that is not finite ignored.
    void SetFOV(TimeValue t, float fov) override;
    float GetFOV(TimeValue t, Interval* valid = nullptr) override;

  private:
    float fov_ = 0.7853982f;  // 45 degrees
    bool ortho_ = false;
};

// A helper of any class id, with parameter block 0.
class SceneHelper final : public SceneObject<Object> {
  public:
    SceneHelper(Scene& scene, Class_ID classId);
    SClass_ID SuperClassID() override { return HELPER_CLASS_ID; }
};

enum class LightType { Omni, Directional };

// An omni light shines from its node's position; a directional light along its node's −Z axis.
struct LightSettings {
    LightType type = LightType::Omni;
    Color color{1.0f, 1.0f, 1.0f};
    float intensity = 1.0f;
    bool castShadows = true;
    // Omni only: the distance at which the light has fallen to half; 0 for no falloff.
    float falloff = 0.0f;
    bool operator==(const LightSettings&) const = default;
};

class SceneLight final : public SceneObject<Object> {
  public:
    SceneLight(Scene& scene, LightType type);
    SClass_ID SuperClassID() override { return LIGHT_CLASS_ID; }
    LightSettings settings;
};

// Triangles imported from a model file, in the model's own space.
struct ImportedModel {
    std::vector<Point3> positions;
    std::vector<std::uint32_t> indices;  // three per triangle, counter-clockwise from the front
    std::vector<Point3> normals;         // one per position, or none
    std::vector<Color> triangleColors;   // one per triangle from the model's materials, or none
};

// Shapes in the node's own space, in system units.
struct BoxShape {
    Point3 size{10.0f, 10.0f, 10.0f};  // centred on the origin in X and Y, from z = 0 to size.z
    bool operator==(const BoxShape&) const = default;
};
struct PlaneShape {
    float width = 10.0f;   // along X
    float length = 10.0f;  // along Y; the plane lies at z = 0 facing +Z, centred on the origin
    bool operator==(const PlaneShape&) const = default;
};
struct SphereShape {
    float radius = 5.0f;  // centred on the origin
    bool operator==(const SphereShape&) const = default;
};
// Equal when they hold the same imported model: a model is never changed once imported.
struct ModelShape {
    std::filesystem::path file;  // absolute
    std::shared_ptr<const ImportedModel> model;
    bool operator==(const ModelShape&) const = default;
};
using MeshShape = std::variant<BoxShape, PlaneShape, SphereShape, ModelShape>;

class SceneMesh final : public SceneObject<Object> {
  public:
    SceneMesh(Scene& scene, MeshShape shape);
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    MeshShape shape;
    // A model's own material colours are used where the file gives none for the mesh.
    std::optional<Color> color;
};

// A modifier stack's result over another object; it evaluates to that object.
class SceneDerivedObject final : public SceneObject<IDerivedObject> {
  public:
    SceneDerivedObject(Scene& scene, Object& base);
    Object* GetObjRef() override { return &base_; }

  private:
    Object& base_;
};

// A value a script stored on a renderer: nothing (undefined), a boolean, an integer, a float, a
// text, or an object of the scene or of a plug-in.
using RendererProperty =
    std::variant<std::monostate, bool, long long, double, std::wstring, ReferenceTarget*>;

// The scene's renderer of one class id. Blocks are made on first use, so every block id accepts
// writes.
class SceneRenderer final : public SceneObject<Renderer> {
  public:
    SceneRenderer(Scene& scene, Class_ID classId);
    bool HasRequirement(Requirement requirement) override;
    IParamBlock2* GetParamBlockByID(BlockID id) override;
    RendererType Type() { return RendererTypeOf(ClassID()); }

    // Properties scripts set on the renderer (renderers.current.Name = …), any name, found
    // ignoring case; null for one never set.
    const RendererProperty* Property(std::wstring_view name) const;
    void SetProperty(std::wstring_view name, RendererProperty value);
    const std::vector<std::pair<std::wstring, RendererProperty>>& Properties() const {
        return properties_;
    }

  private:
    std::vector<std::pair<std::wstring, RendererProperty>> properties_;
};

// Follows derived objects down to the object they are made from (null stays null).
Object* UnwrapDerived(Object* object);

}  // namespace KorvoHost
