// The plug-in contract: class descriptors, utility objects and the library's exports.
#pragma once

#include <vector>

#include "host/max_types.h"
#include "host/win32_platform.h"

class Interface;
class IUtil;
class FPInterface;
class IMtlParams;
class ParamBlockDesc2;
class ParamDlg;
class ReferenceMaker;
class ReferenceTarget;
using BlockID = short;

// The host SDK version a library was built against: release, interface number and revision.
constexpr ULONG MAX_RELEASE = 20000;
constexpr ULONG MAX_API_NUM = 50;
constexpr ULONG MAX_SDK_REV = 0;
constexpr ULONG VERSION_3DSMAX = (MAX_RELEASE << 16) + (MAX_API_NUM << 8) + MAX_SDK_REV;

// Describes one class of a plug-in library to the host.
class ClassDesc {
  public:
    virtual ~ClassDesc() = default;
    // Listed in the host's user interface.
    virtual int IsPublic() = 0;
    // A new object of the class (or the one object, for classes that have only one).
    virtual void* Create(BOOL loading = FALSE) = 0;
    virtual const MCHAR* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const MCHAR* Category() = 0;
    virtual const MCHAR* InternalName() { return nullptr; }
    virtual HINSTANCE HInstance() { return nullptr; }
    virtual DWORD InitialRollupPageState() { return 0x7FFFFFFF; }
    virtual void ResetClassParams(BOOL fileReset) {}
    // Static interfaces the class carries.
    virtual int NumInterfaces() { return 0; }
    virtual FPInterface* GetInterfaceAt(int i) { return nullptr; }
    virtual FPInterface* GetInterface(Interface_ID id) { return nullptr; }
};

// A class descriptor that also holds the class's parameter block descriptors. The host builds,
// resets and shows the blocks from them.
class ClassDesc2 : public ClassDesc {
  public:
    void AddParamBlockDesc(ParamBlockDesc2* desc) { paramBlockDescs_.push_back(desc); }
    int NumParamBlockDescs() const { return static_cast<int>(paramBlockDescs_.size()); }
    ParamBlockDesc2* GetParamBlockDesc(int i) const {
        return i >= 0 && i < NumParamBlockDescs() ? paramBlockDescs_[i] : nullptr;
    }
    ParamBlockDesc2* GetParamBlockDescByID(BlockID id) const;

    // Gives the new object a block with default values for each auto-construct descriptor, in
    // the object's reference the descriptor names.
    void MakeAutoParamBlocks(ReferenceMaker* owner);
    // Puts every parameter of the object's auto-construct blocks back to its default.
    void Reset(ReferenceTarget* owner, BOOL updateUI = TRUE, BOOL callSetHandlers = TRUE);
    // The rollouts of the object's auto-UI blocks, in the material editor window; the caller
    // frees the answer with DeleteThis. Null when the object has no such block.
    ParamDlg* CreateParamDlgs(HWND editor, IMtlParams* params, ReferenceTarget* owner);

  private:
    std::vector<ParamBlockDesc2*> paramBlockDescs_;
};

// A utility: shown in the command panel's utility list, opened and closed by the user.
class UtilityObj {
  public:
    virtual ~UtilityObj() = default;
    virtual void BeginEditParams(Interface* ip, IUtil* iu) = 0;
    virtual void EndEditParams(Interface* ip, IUtil* iu) = 0;
    virtual void SelectionSetChanged(Interface* ip, IUtil* iu) {}
    virtual void DeleteThis() = 0;
    virtual void SetStartupParam(MSTR param) {}
};

// The library exports the host looks up by name.
extern "C" {
using LibDescriptionFn = const MCHAR* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc* (*)(int);
using LibVersionFn = ULONG (*)();
using LibInitializeFn = int (*)();
using LibShutdownFn = int (*)();
using CanAutoDeferFn = ULONG (*)();
// The module entry point, called by the module loader on attach and detach.
using DllMainFn = BOOL (*)(HINSTANCE, DWORD, void*);
}
