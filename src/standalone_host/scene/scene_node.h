// A node of the scene: name, place in the hierarchy, transform, object and look-at target.
//
// A node keeps its transform relative to its parent, so children follow their parent. A transform
// written with SetNodeTM is also kept as written and read back unchanged for as long as what it
// depends on (the parent's world transform and, for a look-at camera, the target's position) has
// not changed since.
//
// A node with a target is a look-at camera: its position follows its parent, its orientation
// looks along camera −Z at the target with world +Z up (see LookAtTransform), turned by a roll
// about the view axis. Rotating it about an axis turns its position about the centre and sets the
// roll so that its axes end up as the rotated axes projected onto the new view: about the view
// axis itself that is exactly the rotated axes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/scene.h"
#include "standalone_host/scene/scene.h"

namespace KorvoHost {

class SceneNode final : public INode {
  public:
    SceneNode(Scene& scene, std::wstring name, Object* object);

    Class_ID ClassID() override { return kNodeClassId; }
    void GetClassName(MSTR& name, bool localized = true) const override { name = L"Node"; }

    const MCHAR* GetName() override { return name_.c_str(); }
    // A null name is ignored.
    void SetName(const MCHAR* name) override;

    Matrix3 GetNodeTM(TimeValue t, Interval* valid = nullptr) override;
    void SetNodeTM(TimeValue t, const Matrix3& tm) override;
    INode* GetTarget() override { return target_; }
    BOOL GetTargetTM(TimeValue t, Matrix3& tm) override;
    void Rotate(TimeValue t, const Matrix3& tmAxis, const AngAxis& val, BOOL localOrigin = FALSE,
                BOOL affectKids = TRUE, int pivMode = PIV_NONE, BOOL ignoreLocks = FALSE) override;

    Object* GetObjectRef() override { return object_; }
    // The object with derived objects evaluated away.
    const ObjectState& EvalWorldState(TimeValue t, BOOL evalHidden = TRUE) override;

    INode* GetParentNode() override { return parent_; }
    int NumberOfChildren() override { return static_cast<int>(children_.size()); }
    // Null outside 0 .. NumberOfChildren() − 1.
    INode* GetChildNode(int i) override;
    // Detaches the node; its children move to its parent, keeping their world transforms when
    // keepChildPosition is set and their transforms relative to the parent otherwise. Cameras
    // looking at it keep their current transform as free cameras. The root cannot be deleted.
    void Delete(TimeValue t, int keepChildPosition) override;

    RefResult NotifyDependents(const Interval& changeInt, PartID partID, RefMessage message,
                               SClass_ID sclass = NOTIFY_ALL, BOOL propagate = TRUE,
                               RefTargetHandle hTarg = nullptr,
                               NotifyDependentsOption option = REFNOTIFY_ALLOW_OPT_OUT) override;

    // ---- Host side -----------------------------------------------------------------------------
    bool IsRoot() const { return isRoot_; }
    bool IsDeleted() const { return deleted_; }
    SceneNode* Parent() const { return parent_; }
    SceneNode* Target() const { return target_; }
    const std::vector<SceneNode*>& Children() const { return children_; }
    // Sets the transform relative to the parent (a look-at camera takes its position only).
    void SetLocalTM(const Matrix3& local);
    // The roll of a look-at camera, radians.
    float Roll() const { return roll_; }
    void SetRoll(float roll);
    // The world transform depends on `other` (through parents and targets), or is `other`'s own.
    bool DependsOn(const SceneNode& other) const;

  private:
    friend class Scene;
    struct Pin {
        Matrix3 world;
        Matrix3 parentWorld;
        Point3 targetPosition;
    };

    Matrix3 ParentWorld();
    Point3 TargetPosition();
    Point3 WorldPosition(const Matrix3& parentWorld) const;
    void SetLocalPosition(const Point3& world, const Matrix3& parentWorld);
    void Reparent(SceneNode* parent, bool keepWorld);
    void DropTarget();
    // Starts looking at `target` from the current position with no roll.
    void AimAt(SceneNode& target);
    void MakeRoot() { isRoot_ = true; }

    Scene& scene_;
    std::wstring name_;
    Object* object_;
    ObjectState state_;
    SceneNode* parent_ = nullptr;
    std::vector<SceneNode*> children_;
    SceneNode* target_ = nullptr;
    Matrix3 local_;      // relative to the parent; a look-at camera uses the position only
    float roll_ = 0.0f;  // look-at cameras
    // The view of the last look-at evaluation, kept for a target that sits on the camera.
    Point3 lastView_{0.0f, 1.0f, 0.0f};
    std::optional<Pin> pin_;
    bool isRoot_ = false;
    bool deleted_ = false;
    bool evaluating_ = false;
};

}  // namespace KorvoHost
