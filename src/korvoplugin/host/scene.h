// The host's scene: animatables, references, objects, nodes and parameter blocks.
// All scene operations of the system work at time 0.
#pragma once

#include "host/geom.h"
#include "host/max_types.h"

class IParamBlock2;
class ParamBlockDesc2;
class RemapDir;
class INode;
class Object;

using PartID = ULONG;
using RefMessage = unsigned int;
using ParamID = short;
using BlockID = short;
using RefTargetHandle = class ReferenceTarget*;

enum RefResult { REF_FAIL = 0, REF_SUCCEED = 1, REF_DONTCARE = 2, REF_STOP = 3 };
enum NotifyDependentsOption { REFNOTIFY_ALLOW_OPT_OUT = 0, REFNOTIFY_NO_OPT_OUT = 1 };

// Parts and messages of dependency notifications.
constexpr PartID PART_ALL = 0xFFFFFFFF;
constexpr PartID PART_TM = 0x1000;
constexpr RefMessage REFMSG_CHANGE = 0x50;
constexpr RefMessage REFMSG_NODE_NAMECHANGE = 0xF7;
// Super class filter that reaches every dependent.
constexpr SClass_ID NOTIFY_ALL = 0xFFFFFFF0;

// An interface an object hands out through GetInterface.
class BaseInterface {
  public:
    virtual ~BaseInterface() = default;
};

class Animatable {
  public:
    virtual ~Animatable() = default;
    // Frees an object the host no longer needs, in the module that made it.
    virtual void DeleteThis() {}
    virtual Class_ID ClassID() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual void GetClassName(MSTR& name, bool localized = true) const { name.clear(); }
    virtual int NumParamBlocks() { return 0; }
    virtual IParamBlock2* GetParamBlock(int i) { return nullptr; }
    virtual IParamBlock2* GetParamBlockByID(BlockID id) { return nullptr; }
    virtual BaseInterface* GetInterface(Interface_ID id) { return nullptr; }
    virtual int NumSubs() { return 0; }
    virtual Animatable* SubAnim(int i) { return nullptr; }
    virtual MSTR SubAnimName(int i, bool localized = true) { return {}; }
};

class ReferenceMaker : public Animatable {
  public:
    virtual int NumRefs() { return 0; }
    virtual RefTargetHandle GetReference(int i) { return nullptr; }
    virtual void SetReference(int i, RefTargetHandle target) {}
    // Makes reference i point at target (or at nothing), as the host's bookkeeping does it.
    RefResult ReplaceReference(int i, RefTargetHandle target) {
        SetReference(i, target);
        return REF_SUCCEED;
    }
    void DeleteAllRefs() {
        for (int i = 0; i < NumRefs(); ++i) SetReference(i, nullptr);
    }
};

class ReferenceTarget : public ReferenceMaker {
  public:
    // Tells everything that depends on this object that it changed.
    virtual RefResult NotifyDependents(const Interval& changeInt, PartID partID, RefMessage message,
                                       SClass_ID sclass = NOTIFY_ALL, BOOL propagate = TRUE,
                                       RefTargetHandle hTarg = nullptr,
                                       NotifyDependentsOption option = REFNOTIFY_ALLOW_OPT_OUT) {
        return REF_SUCCEED;
    }
    // A copy of the object whose references are cloned through remap; null for objects that
    // cannot be copied.
    virtual RefTargetHandle Clone(RemapDir& remap) { return nullptr; }
    // The host's part of a clone, after the object has copied its own state.
    virtual void BaseClone(ReferenceTarget* from, ReferenceTarget* to, RemapDir& remap) {}
};

// Clones the references of an object being cloned, each target once.
class RemapDir {
  public:
    virtual ~RemapDir() = default;
    virtual RefTargetHandle CloneRef(RefTargetHandle target) = 0;
};

// A parameter block: values by parameter id.
class IParamBlock2 : public ReferenceTarget {
  public:
    SClass_ID SuperClassID() override { return PARAMETER_BLOCK2_CLASS_ID; }
    virtual BlockID ID() = 0;
    virtual int NumParams() = 0;
    virtual ParamID IndextoID(int index) = 0;
    // The parameter's internal name, or empty text for an unknown id.
    virtual MSTR GetParamName(ParamID id) = 0;
    virtual BOOL SetValue(ParamID id, TimeValue t, int value, int tabIndex = 0) = 0;
    virtual BOOL SetValue(ParamID id, TimeValue t, float value, int tabIndex = 0) = 0;
    virtual BOOL GetValue(ParamID id, TimeValue t, int& value, Interval& valid,
                          int tabIndex = 0) = 0;
    virtual BOOL GetValue(ParamID id, TimeValue t, float& value, Interval& valid,
                          int tabIndex = 0) = 0;
    int GetInt(ParamID id, TimeValue t = 0) {
        int v = 0;
        Interval valid = FOREVER;
        GetValue(id, t, v, valid);
        return v;
    }
    float GetFloat(ParamID id, TimeValue t = 0) {
        float v = 0.0f;
        Interval valid = FOREVER;
        GetValue(id, t, v, valid);
        return v;
    }
    // Puts every parameter back to its default.
    virtual void ResetAll(BOOL updateUI = TRUE, BOOL callSetHandlers = TRUE) {}
    // The descriptor of the block's parameters, or null for a block without one.
    virtual ParamBlockDesc2* GetDesc() { return nullptr; }
    // Narrows valid to the times around t over which no parameter changes.
    virtual void GetValidity(TimeValue t, Interval& valid) {}
};

class BaseObject : public ReferenceTarget {};

class Object;
struct ObjectState {
    Object* obj = nullptr;
};

class Object : public BaseObject {};

// An object that applies modifiers to the object it is derived from (super class 2).
class IDerivedObject : public Object {
  public:
    SClass_ID SuperClassID() override { return GEN_DERIVOB_CLASS_ID; }
    virtual Object* GetObjRef() = 0;
};

class CameraObject : public Object {
  public:
    SClass_ID SuperClassID() override { return CAMERA_CLASS_ID; }
    virtual void SetOrtho(BOOL ortho) = 0;
    virtual BOOL IsOrtho() = 0;
    // Horizontal field of view in radians.
    virtual void SetFOV(TimeValue t, float fov) = 0;
    virtual float GetFOV(TimeValue t, Interval* valid = nullptr) = 0;
};

constexpr int PIV_NONE = 0;

class INode : public ReferenceTarget {
  public:
    SClass_ID SuperClassID() override { return BASENODE_CLASS_ID; }
    virtual const MCHAR* GetName() = 0;
    virtual void SetName(const MCHAR* name) = 0;

    // World transform.
    virtual Matrix3 GetNodeTM(TimeValue t, Interval* valid = nullptr) = 0;
    virtual void SetNodeTM(TimeValue t, const Matrix3& tm) = 0;

    // The target node of a look-at camera, or null.
    virtual INode* GetTarget() = 0;
    // World transform of the target; answers FALSE when there is no target.
    virtual BOOL GetTargetTM(TimeValue t, Matrix3& tm) = 0;

    // Rotates the node by val, the axis given in the frame tmAxis. With localOrigin the rotation is
    // centred on tmAxis's origin, else on the node's pivot.
    virtual void Rotate(TimeValue t, const Matrix3& tmAxis, const AngAxis& val,
                        BOOL localOrigin = FALSE, BOOL affectKids = TRUE, int pivMode = PIV_NONE,
                        BOOL ignoreLocks = FALSE) = 0;

    virtual Object* GetObjectRef() = 0;
    virtual const ObjectState& EvalWorldState(TimeValue t, BOOL evalHidden = TRUE) = 0;

    virtual INode* GetParentNode() = 0;
    virtual int NumberOfChildren() = 0;
    virtual INode* GetChildNode(int i) = 0;

    // Removes the node from the scene; with keepChildPosition its children keep their world
    // transforms.
    virtual void Delete(TimeValue t, int keepChildPosition) = 0;
};

constexpr int TREE_CONTINUE = 0;
constexpr int TREE_IGNORECHILDREN = 1;
constexpr int TREE_ABORT = 2;

// Called once for every node of a scene walk.
class ITreeEnumProc {
  public:
    virtual ~ITreeEnumProc() = default;
    virtual int callback(INode* node) = 0;
};

class IScene {
  public:
    virtual ~IScene() = default;
    // Calls proc for every node of the scene (the root excluded), parents before children.
    virtual int EnumTree(ITreeEnumProc* proc, BOOL includeXRefs = FALSE,
                         BOOL flattenHierarchy = TRUE) = 0;
};
