#include "standalone_host/scene/scene_node.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <utility>

#include "standalone_host/scene/scene_objects.h"
#include "standalone_host/scene/transform_math.h"

namespace KorvoHost {
namespace {

// Evaluation recurses through parents and targets. Loops are refused when they would be made;
// this bounds what is left (absurdly deep hierarchies) so that the stack holds.
constexpr int kMaxEvaluationDepth = 2000;
thread_local int evaluationDepth = 0;

class EvaluationGuard {
  public:
    EvaluationGuard(bool& flag) : flag_(flag) {
        flag_ = true;
        ++evaluationDepth;
    }
    ~EvaluationGuard() {
        flag_ = false;
        --evaluationDepth;
    }
    EvaluationGuard(const EvaluationGuard&) = delete;
    EvaluationGuard& operator=(const EvaluationGuard&) = delete;

  private:
    bool& flag_;
};

bool IsUsableView(const Point3& view) {
    return std::isfinite(view.x) && std::isfinite(view.y) && std::isfinite(view.z) &&
           view.LengthSquared() > 0.0f;
}

}  // namespace

SceneNode::SceneNode(Scene& scene, std::wstring name, Object* object)
    : scene_(scene), name_(std::move(name)), object_(object) {}

void SceneNode::SetName(const MCHAR* name) {
    if (name) name_ = name;
}

Matrix3 SceneNode::ParentWorld() { return parent_ ? parent_->GetNodeTM(0) : Matrix3(); }

Point3 SceneNode::TargetPosition() { return target_ ? target_->GetNodeTM(0).GetTrans() : Point3(); }

Point3 SceneNode::WorldPosition(const Matrix3& parentWorld) const {
    return parent_ && !parent_->IsRoot() ? parentWorld.PointTransform(local_.GetTrans())
                                         : local_.GetTrans();
}

void SceneNode::SetLocalPosition(const Point3& world, const Matrix3& parentWorld) {
    if (!parent_ || parent_->IsRoot()) {
        local_.SetTrans(world);
        return;
    }
    const auto inverse = Inverse(parentWorld);
    local_.SetTrans(inverse ? inverse->PointTransform(world) : world);
}

Matrix3 SceneNode::GetNodeTM(TimeValue, Interval* valid) {
    if (valid) *valid = FOREVER;
    if (IsRoot()) return {};
    if (evaluating_ || evaluationDepth > kMaxEvaluationDepth) return pin_ ? pin_->world : local_;
    EvaluationGuard guard(evaluating_);

    const Matrix3 parentWorld = ParentWorld();
    if (!target_) {
        if (pin_ && pin_->parentWorld == parentWorld) return pin_->world;
        return parent_ && !parent_->IsRoot() ? local_ * parentWorld : local_;
    }
    const Point3 targetPosition = TargetPosition();
    if (pin_ && pin_->parentWorld == parentWorld && pin_->targetPosition == targetPosition)
        return pin_->world;
    const Point3 position = WorldPosition(parentWorld);
    const Point3 view = targetPosition - position;
    // A target on the camera gives no direction: the camera keeps looking where it looked.
    if (IsUsableView(view)) lastView_ = view;
    return LookAtTransform(position, lastView_, roll_);
}

void SceneNode::SetNodeTM(TimeValue, const Matrix3& tm) {
    if (IsRoot()) return;
    const Matrix3 parentWorld = ParentWorld();
    Pin pin{tm, parentWorld, {}};
    if (!target_) {
        if (!parent_ || parent_->IsRoot()) {
            local_ = tm;
        } else {
            const auto inverse = Inverse(parentWorld);
            local_ = inverse ? tm * *inverse : tm;
        }
    } else {
        SetLocalPosition(tm.GetTrans(), parentWorld);
        pin.targetPosition = TargetPosition();
        const Point3 view = pin.targetPosition - tm.GetTrans();
        if (IsUsableView(view)) lastView_ = view;
        roll_ = RollTowards(tm, lastView_);
    }
    pin_ = pin;
}

BOOL SceneNode::GetTargetTM(TimeValue t, Matrix3& tm) {
    if (!target_) return FALSE;
    tm = target_->GetNodeTM(t);
    return TRUE;
}

void SceneNode::Rotate(TimeValue t, const Matrix3& tmAxis, const AngAxis& val, BOOL localOrigin,
                       BOOL affectKids, int, BOOL) {
    if (IsRoot()) return;
    const Matrix3 world = GetNodeTM(t);
    const Point3 centre = localOrigin ? tmAxis.GetTrans() : world.GetTrans();
    const Matrix3 rotated =
        RotatedTransform(world, tmAxis.VectorTransform(val.axis), val.angle, centre);

    std::vector<std::pair<SceneNode*, Matrix3>> kept;
    if (!affectKids)
        for (SceneNode* child : children_) kept.emplace_back(child, child->GetNodeTM(t));

    if (!target_) {
        SetNodeTM(t, rotated);
    } else {
        // The look-at owns the view; the rotation moves the position and sets the roll.
        const Matrix3 parentWorld = ParentWorld();
        SetLocalPosition(rotated.GetTrans(), parentWorld);
        const Point3 view = TargetPosition() - WorldPosition(parentWorld);
        if (IsUsableView(view)) lastView_ = view;
        roll_ = RollTowards(rotated, lastView_);
        pin_.reset();
    }
    for (auto& [child, childWorld] : kept) child->SetNodeTM(t, childWorld);
}

void SceneNode::SetLocalTM(const Matrix3& local) {
    local_ = local;
    pin_.reset();
}

void SceneNode::SetRoll(float roll) {
    roll_ = roll;
    pin_.reset();
}

const ObjectState& SceneNode::EvalWorldState(TimeValue, BOOL) {
    state_.obj = UnwrapDerived(object_);
    return state_;
}

INode* SceneNode::GetChildNode(int i) {
    return i >= 0 && i < NumberOfChildren() ? children_[i] : nullptr;
}

void SceneNode::Reparent(SceneNode* parent, bool keepWorld) {
    const Matrix3 world = GetNodeTM(0);
    if (parent_) std::erase(parent_->children_, this);
    parent_ = parent;
    if (parent_) parent_->children_.push_back(this);
    if (keepWorld) {
        SetNodeTM(0, world);
    } else {
        pin_.reset();
    }
}

void SceneNode::DropTarget() {
    const Matrix3 world = GetNodeTM(0);
    target_ = nullptr;
    SetNodeTM(0, world);
}

void SceneNode::AimAt(SceneNode& target) {
    target_ = &target;
    roll_ = 0.0f;
    pin_.reset();
}

void SceneNode::Delete(TimeValue, int keepChildPosition) {
    if (IsRoot() || deleted_) return;
    for (SceneNode* camera : scene_.CamerasLookingAt(*this)) camera->DropTarget();
    const std::vector<SceneNode*> children = children_;
    for (SceneNode* child : children) child->Reparent(parent_, keepChildPosition != 0);
    // What is left of a deleted node is its last world transform, fixed.
    const Matrix3 world = GetNodeTM(0);
    Reparent(nullptr, false);
    target_ = nullptr;
    local_ = world;
    deleted_ = true;
}

RefResult SceneNode::NotifyDependents(const Interval& changeInt, PartID partID, RefMessage message,
                                      SClass_ID sclass, BOOL propagate, RefTargetHandle hTarg,
                                      NotifyDependentsOption option) {
    return RecordNotification(scene_.RecordList(), this, changeInt, partID, message, sclass,
                              propagate, hTarg, option);
}

bool SceneNode::DependsOn(const SceneNode& other) const {
    std::vector<const SceneNode*> pending{this};
    std::unordered_set<const SceneNode*> seen;
    while (!pending.empty()) {
        const SceneNode* node = pending.back();
        pending.pop_back();
        if (node == &other) return true;
        if (!seen.insert(node).second) continue;
        if (node->parent_) pending.push_back(node->parent_);
        if (node->target_) pending.push_back(node->target_);
    }
    return false;
}

}  // namespace KorvoHost
