#include "standalone_host/scene/scene_objects.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

namespace KorvoHost {

// ---- Parameter blocks ---------------------------------------------------------------------------

int ParamBlock::NumParams() {
    int count = 0;
    ParamID last = 0;
    for (const auto& [key, value] : values_) {
        if (count == 0 || key.first != last) ++count;
        last = key.first;
    }
    return count;
}

ParamID ParamBlock::IndextoID(int index) {
    int i = -1;
    ParamID last = 0;
    for (const auto& [key, value] : values_) {
        if (i < 0 || key.first != last) ++i;
        last = key.first;
        if (i == index) return key.first;
    }
    return -1;
}

BOOL ParamBlock::Write(ParamID id, int tabIndex, ParamValue value) {
    records_.push_back(ParamWrite{&owner_, id_, id, tabIndex, value});
    if (tabIndex < 0) return FALSE;
    values_[{id, tabIndex}] = value;
    return TRUE;
}

BOOL ParamBlock::SetValue(ParamID id, TimeValue, int value, int tabIndex) {
    return Write(id, tabIndex, value);
}

BOOL ParamBlock::SetValue(ParamID id, TimeValue, float value, int tabIndex) {
    return Write(id, tabIndex, value);
}

BOOL ParamBlock::GetValue(ParamID id, TimeValue, int& value, Interval& valid, int tabIndex) {
    const auto it = values_.find({id, tabIndex});
    if (it == values_.end() || !std::holds_alternative<int>(it->second)) return FALSE;
    value = std::get<int>(it->second);
    valid = FOREVER;
    return TRUE;
}

BOOL ParamBlock::GetValue(ParamID id, TimeValue, float& value, Interval& valid, int tabIndex) {
    const auto it = values_.find({id, tabIndex});
    if (it == values_.end()) return FALSE;
    value = std::holds_alternative<float>(it->second)
                ? std::get<float>(it->second)
                : static_cast<float>(std::get<int>(it->second));
    valid = FOREVER;
    return TRUE;
}

RefResult ParamBlock::NotifyDependents(const Interval& changeInt, PartID partID, RefMessage message,
                                       SClass_ID sclass, BOOL propagate, RefTargetHandle hTarg,
                                       NotifyDependentsOption option) {
    return RecordNotification(records_, this, changeInt, partID, message, sclass, propagate, hTarg,
                              option);
}

RefResult RecordNotification(std::vector<SceneRecord>& records, ReferenceTarget* target,
                             const Interval& changeInt, PartID partID, RefMessage message,
                             SClass_ID sclass, BOOL propagate, RefTargetHandle hTarg,
                             NotifyDependentsOption option) {
    records.push_back(
        Notification{target, changeInt, partID, message, sclass, propagate, hTarg, option});
    return REF_SUCCEED;
}

// ---- Objects ------------------------------------------------------------------------------------

namespace {
std::wstring CameraClassName(const Class_ID& classId) {
    if (classId == kFreeCameraClassId) return L"Free Camera";
    if (classId == kTargetCameraClassId) return L"Target Camera";
    return L"Camera";
}

std::wstring MeshClassName(const MeshShape& shape) {
    switch (shape.index()) {
        case 0:
            return L"Box";
        case 1:
            return L"Plane";
        case 2:
            return L"Sphere";
        default:
            return L"Mesh";
    }
}

Class_ID MeshClassId(const MeshShape& shape) {
    switch (shape.index()) {
        case 0:
            return kBoxClassId;
        case 1:
            return kPlaneClassId;
        case 2:
            return kSphereClassId;
        default:
            return kModelMeshClassId;
    }
}
}  // namespace

SceneCamera::SceneCamera(Scene& scene, Class_ID classId)
    : SceneObject(scene, classId, CameraClassName(classId)) {
    AddParamBlock(0);
}

void SceneCamera::SetFOV(TimeValue, float fov) {
    if (!std::isfinite(fov)) return;
    // Keeps the pinhole well defined: the image plane must stay finite and non-empty.
    constexpr float kMin = 1e-4f, kMax = PI - 1e-4f;
    fov_ = fov < kMin ? kMin : fov > kMax ? kMax : fov;
}

float SceneCamera::GetFOV(TimeValue, Interval* valid) {
    if (valid) *valid = FOREVER;
    return fov_;
}

SceneHelper::SceneHelper(Scene& scene, Class_ID classId) : SceneObject(scene, classId, L"Helper") {
    AddParamBlock(0);
}

SceneLight::SceneLight(Scene& scene, LightType type)
    : SceneObject(scene, type == LightType::Omni ? kOmniLightClassId : kDirectionalLightClassId,
                  type == LightType::Omni ? L"Omni" : L"Directional Light") {
    settings.type = type;
}

SceneMesh::SceneMesh(Scene& scene, MeshShape shape_)
    : SceneObject(scene, MeshClassId(shape_), MeshClassName(shape_)), shape(std::move(shape_)) {}

SceneDerivedObject::SceneDerivedObject(Scene& scene, Object& base)
    : SceneObject(scene, kDerivedObjectClassId, L"Derived Object"), base_(base) {}

SceneRenderer::SceneRenderer(Scene& scene, Class_ID classId)
    : SceneObject(scene, classId, RendererClassName(RendererTypeOf(classId))) {}

bool SceneRenderer::HasRequirement(Requirement requirement) {
    return requirement == kRequirement_Wants32bitFPOutput && OwnerScene().FloatFrameBuffer();
}

IParamBlock2* SceneRenderer::GetParamBlockByID(BlockID id) {
    if (IParamBlock2* block = SceneObject::GetParamBlockByID(id)) return block;
    return &AddParamBlock(id);
}

namespace {
bool SamePropertyName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}
}  // namespace

const RendererProperty* SceneRenderer::Property(std::wstring_view name) const {
    for (const auto& [key, value] : properties_)
        if (SamePropertyName(key, name)) return &value;
    return nullptr;
}

void SceneRenderer::SetProperty(std::wstring_view name, RendererProperty value) {
    for (auto& [key, stored] : properties_) {
        if (SamePropertyName(key, name)) {
            stored = std::move(value);
            return;
        }
    }
    properties_.emplace_back(std::wstring(name), std::move(value));
}

Object* UnwrapDerived(Object* object) {
    // Bounded: a derived object is always made over an existing object, so chains cannot loop,
    // but a foreign object could.
    for (int depth = 0; object && depth < 64; ++depth) {
        if (object->SuperClassID() != GEN_DERIVOB_CLASS_ID) return object;
        auto* derived = dynamic_cast<IDerivedObject*>(object);
        if (!derived) return object;
        object = derived->GetObjRef();
    }
    return object;
}

// ---- Renderer classes ---------------------------------------------------------------------------

RendererType RendererTypeOf(const Class_ID& classId) {
    if (classId == kVRayRendererClassId) return RendererType::VRay;
    if (classId == kVRayRTRendererClassId) return RendererType::VRayRT;
    if (classId == kMentalRayRendererClassId) return RendererType::MentalRay;
    if (classId == kArnoldRendererClassId) return RendererType::Arnold;
    return RendererType::Scanline;
}

Class_ID RendererClassId(RendererType type) {
    switch (type) {
        case RendererType::VRay:
            return kVRayRendererClassId;
        case RendererType::VRayRT:
            return kVRayRTRendererClassId;
        case RendererType::MentalRay:
            return kMentalRayRendererClassId;
        case RendererType::Arnold:
            return kArnoldRendererClassId;
        case RendererType::Scanline:
            break;
    }
    return kScanlineRendererClassId;
}

const wchar_t* RendererClassName(RendererType type) {
    switch (type) {
        case RendererType::VRay:
            return L"V-Ray";
        case RendererType::VRayRT:
            return L"V-Ray RT";
        case RendererType::MentalRay:
            return L"mental ray";
        case RendererType::Arnold:
            return L"Arnold";
        case RendererType::Scanline:
            break;
    }
    return L"Default Scanline";
}

}  // namespace KorvoHost
