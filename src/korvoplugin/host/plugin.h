// The plug-in contract: class descriptors, utility objects and the library's exports.
#pragma once

#include "host/max_types.h"
#include "host/win32_platform.h"

class Interface;
class IUtil;
class FPInterface;

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

class ClassDesc2 : public ClassDesc {};

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
