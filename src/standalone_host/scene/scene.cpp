#include "standalone_host/scene/scene.h"

#include <cwctype>
#include <system_error>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene_file.h"
#include "standalone_host/scene/scene_node.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {
namespace {

double MetresPerUnit(int unitType) {
    switch (unitType) {
        case 0:
            return 0.0254;  // inches
        case 1:
            return 0.3048;  // feet
        case 2:
            return 1609.344;  // miles
        case 3:
            return 0.001;  // millimetres
        case 4:
            return 0.01;  // centimetres
        case 5:
            return 1.0;  // metres
        case 6:
            return 1000.0;  // kilometres
        default:
            return 0.0;
    }
}

// The name new nodes of an object get before their number.
std::wstring BaseName(Object* object) {
    if (!object) return L"Node";
    switch (UnwrapDerived(object)->SuperClassID()) {
        case CAMERA_CLASS_ID:
            return L"Camera";
        case HELPER_CLASS_ID:
            return L"Helper";
        case LIGHT_CLASS_ID:
            return L"Light";
        default:
            break;
    }
    MSTR name;
    UnwrapDerived(object)->GetClassName(name);
    return name.empty() ? L"Object" : name;
}

}  // namespace

Scene::Scene() {
    nodes_.push_back(std::make_unique<SceneNode>(*this, L"Root", nullptr));
    nodes_.front()->MakeRoot();
}

Scene::~Scene() = default;

// ---- Nodes ----------------------------------------------------------------------------------

int Scene::EnumTree(ITreeEnumProc* proc, BOOL, BOOL) {
    if (!proc) return TREE_CONTINUE;
    // Depth first without recursion, so that deep hierarchies cannot exhaust the stack.
    std::vector<SceneNode*> pending(Root().Children().rbegin(), Root().Children().rend());
    while (!pending.empty()) {
        SceneNode* node = pending.back();
        pending.pop_back();
        if (node->IsDeleted()) continue;
        const int answer = proc->callback(node);
        if (answer == TREE_ABORT) return TREE_ABORT;
        if (answer == TREE_IGNORECHILDREN || node->IsDeleted()) continue;
        pending.insert(pending.end(), node->Children().rbegin(), node->Children().rend());
    }
    return TREE_CONTINUE;
}

std::vector<INode*> Scene::Nodes() {
    class Collector final : public ITreeEnumProc {
      public:
        int callback(INode* node) override {
            nodes.push_back(node);
            return TREE_CONTINUE;
        }
        std::vector<INode*> nodes;
    } collector;
    EnumTree(&collector);
    return std::move(collector.nodes);
}

INode* Scene::RootNode() { return &Root(); }

INode* Scene::FindNode(std::wstring_view name) {
    for (INode* node : Nodes())
        if (name == node->GetName()) return node;
    return nullptr;
}

bool Scene::NameTaken(std::wstring_view name) const {
    for (const auto& node : nodes_)
        if (!node->IsRoot() && !node->IsDeleted() && name == node->GetName()) return true;
    return false;
}

std::wstring Scene::NumberedName(std::wstring_view base) const {
    // At most one candidate per node is taken, so this ends.
    for (unsigned n = 1;; ++n) {
        std::wstring number = std::to_wstring(n);
        if (number.size() < 3) number.insert(0, 3 - number.size(), L'0');
        std::wstring candidate = std::wstring(base) + number;
        if (!NameTaken(candidate)) return candidate;
    }
}

void Scene::MakeNameUnique(MSTR& name) {
    if (!NameTaken(name)) return;
    size_t end = name.size();
    while (end > 0 && std::iswdigit(name[end - 1])) --end;
    name = NumberedName(std::wstring_view(name).substr(0, end));
}

Object* Scene::Adopt(std::unique_ptr<Object> object) {
    objects_.push_back(std::move(object));
    return objects_.back().get();
}

void* Scene::CreateInstance(SClass_ID superId, Class_ID classId) {
    std::unique_ptr<Object> object;
    switch (superId) {
        case CAMERA_CLASS_ID:
            object = std::make_unique<SceneCamera>(*this, classId);
            break;
        case HELPER_CLASS_ID:
            object = std::make_unique<SceneHelper>(*this, classId);
            break;
        case LIGHT_CLASS_ID:
            if (classId == kOmniLightClassId)
                object = std::make_unique<SceneLight>(*this, LightType::Omni);
            else if (classId == kDirectionalLightClassId)
                object = std::make_unique<SceneLight>(*this, LightType::Directional);
            break;
        case GEOMOBJECT_CLASS_ID:
            if (classId == kBoxClassId)
                object = std::make_unique<SceneMesh>(*this, BoxShape{});
            else if (classId == kPlaneClassId)
                object = std::make_unique<SceneMesh>(*this, PlaneShape{});
            else if (classId == kSphereClassId)
                object = std::make_unique<SceneMesh>(*this, SphereShape{});
            break;
        default:
            break;
    }
    // Callers cast the answer back to Object*, so it must be exactly that pointer.
    return object ? static_cast<void*>(Adopt(std::move(object))) : nullptr;
}

INode* Scene::CreateObjectNode(Object* object, const MCHAR* name) {
    std::wstring nodeName = name ? std::wstring(name) : NumberedName(BaseName(object));
    nodes_.push_back(std::make_unique<SceneNode>(*this, std::move(nodeName), object));
    nodes_.back()->Reparent(&Root(), false);
    return nodes_.back().get();
}

SceneNode* Scene::AsSceneNode(INode* node) const {
    auto* sceneNode = dynamic_cast<SceneNode*>(node);
    return sceneNode && &sceneNode->scene_ == this ? sceneNode : nullptr;
}

void Scene::DeleteNode(INode* node) {
    if (SceneNode* sceneNode = AsSceneNode(node)) sceneNode->Delete(0, TRUE);
}

bool Scene::SetParent(INode* node, INode* parent) {
    SceneNode* child = AsSceneNode(node);
    SceneNode* newParent = parent ? AsSceneNode(parent) : &Root();
    if (!child || !newParent || child->IsRoot() || child->IsDeleted() || newParent->IsDeleted())
        return false;
    if (newParent->DependsOn(*child)) return false;
    child->Reparent(newParent, true);
    return true;
}

bool Scene::SetTarget(INode* camera, INode* target) {
    SceneNode* node = AsSceneNode(camera);
    if (!node || node->IsRoot() || node->IsDeleted()) return false;
    if (!target) {
        if (node->Target()) node->DropTarget();
        return true;
    }
    SceneNode* targetNode = AsSceneNode(target);
    if (!targetNode || targetNode->IsRoot() || targetNode->IsDeleted()) return false;
    if (targetNode->DependsOn(*node)) return false;
    node->AimAt(*targetNode);
    return true;
}

std::vector<SceneNode*> Scene::CamerasLookingAt(const SceneNode& target) const {
    std::vector<SceneNode*> cameras;
    for (const auto& node : nodes_)
        if (node->Target() == &target && !node->IsDeleted()) cameras.push_back(node.get());
    return cameras;
}

// ---- Renderer -------------------------------------------------------------------------------

Renderer* Scene::CurrentRenderer(bool createIfNone) {
    if (!currentRenderer_ && createIfNone) SetCurrentRenderer(kScanlineRendererClassId);
    return currentRenderer_;
}

void Scene::SetCurrentRenderer(const Class_ID& classId) {
    auto& renderer = renderers_[classId];
    if (!renderer) renderer = std::make_unique<SceneRenderer>(*this, classId);
    currentRenderer_ = renderer.get();
}

// ---- Units and file -------------------------------------------------------------------------

double Scene::MasterScale(int unitType) const {
    const double target = MetresPerUnit(unitType);
    return target > 0.0 ? MetresPerUnit(static_cast<int>(unit_)) / target : 1.0;
}

MSTR Scene::CurFileName() const { return FromPath(filePath_.filename()); }

MSTR Scene::CurFilePath() const { return FromPath(filePath_); }

bool Scene::Save(std::string& error) {
    if (filePath_.empty()) {
        error = "the scene has no file yet; save it under a name first";
        return false;
    }
    return SaveAs(filePath_, error);
}

bool Scene::SaveAs(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    if (!WriteSceneFile(*this, absolute, error)) return false;
    filePath_ = absolute;
    return true;
}

}  // namespace KorvoHost
