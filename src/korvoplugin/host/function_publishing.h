// Function publishing: interfaces whose functions scripts can call by name.
#pragma once

#include <cstdarg>
#include <memory>
#include <vector>

#include "host/geom.h"
#include "host/max_types.h"
#include "host/tab.h"

class ClassDesc;
class INode;

using FunctionID = short;
using StringResID = int;
using FPStatus = int;
constexpr FPStatus FPS_FAIL = 0;
constexpr FPStatus FPS_OK = 1;
constexpr FPStatus FPS_NO_SUCH_FUNCTION = -1;

// Value type codes.
using ParamType2 = int;
constexpr ParamType2 TYPE_FLOAT = 0;
constexpr ParamType2 TYPE_INT = 1;
constexpr ParamType2 TYPE_BOOL = 4;
constexpr ParamType2 TYPE_INODE = 17;
constexpr ParamType2 TYPE_MATRIX3 = 20;
constexpr ParamType2 TYPE_VOID = 46;
constexpr ParamType2 TYPE_INTERFACE = 54;
constexpr ParamType2 TYPE_TSTR = 57;
constexpr ParamType2 TYPE_BY_VAL = 0x2000;
constexpr ParamType2 TYPE_TSTR_BV = TYPE_TSTR | TYPE_BY_VAL;

// Interface flag: a core interface, reachable from scripts as a global under its name.
constexpr ULONG FP_CORE = 0x0004;

// One value passed to or returned from a published function. A TYPE_TSTR_BV value owns its text.
class FPValue {
  public:
    ParamType2 type = TYPE_VOID;
    union {
        int i;
        float f;
        INode* n;
        Matrix3* m;
        MSTR* tstr;
        void* ptr;
    };

    FPValue() : i(0) {}
    FPValue(const FPValue& other) : i(0) { *this = other; }
    FPValue& operator=(const FPValue& other) {
        if (this == &other) return *this;
        Free();
        type = other.type;
        ptr = other.ptr;
        if (type == TYPE_TSTR_BV && other.tstr) tstr = new MSTR(*other.tstr);
        return *this;
    }
    ~FPValue() { Free(); }

    void LoadInt(ParamType2 t, int v) {
        Free();
        type = t;
        i = v;
    }
    void LoadNode(INode* node) {
        Free();
        type = TYPE_INODE;
        n = node;
    }
    void LoadMatrix(Matrix3* matrix) {
        Free();
        type = TYPE_MATRIX3;
        m = matrix;
    }
    void LoadString(const MSTR& text) {
        Free();
        type = TYPE_TSTR_BV;
        tstr = new MSTR(text);
    }

  private:
    // The one place an FPValue frees what it owns.
    void Free() {
        if (type == TYPE_TSTR_BV) delete tstr;
        type = TYPE_VOID;
        ptr = nullptr;
    }
};

// The arguments of one call, by position.
class FPParams {
  public:
    Tab<FPValue> params;
};

// Description of one published function.
struct FPFunctionDef {
    FunctionID id = 0;
    MSTR internalName;
    int descriptionId = 0;
    ParamType2 resultType = TYPE_VOID;
    ULONG flags = 0;
    struct Param {
        MSTR internalName;
        int descriptionId = 0;
        ParamType2 type = TYPE_VOID;
    };
    std::vector<Param> params;
};

class FPInterfaceDesc;

class FPInterface {
  public:
    virtual ~FPInterface() = default;
    virtual FPInterfaceDesc* GetDesc() = 0;
    // Calls function fid with the arguments p; stores its value in result.
    virtual FPStatus Invoke(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) {
        return _dispatch_fn(fid, t, result, p);
    }

  protected:
    virtual FPStatus _dispatch_fn(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) {
        return FPS_NO_SUCH_FUNCTION;
    }
};

// Closes the variable argument list of an interface description.
enum : int { p_end = 0x7FFFFFFF };

// An interface's description; a description with FP_CORE registers the interface with the host
// as a core interface when it is loaded, and its destruction withdraws it.
class FPInterfaceDesc : public FPInterface {
  public:
    Interface_ID ID;
    MSTR internal_name;
    StringResID description = 0;
    ClassDesc* cd = nullptr;
    ULONG flags = 0;
    std::vector<FPFunctionDef> functions;

    FPInterfaceDesc() = default;
    FPInterfaceDesc(const FPInterfaceDesc&) = delete;
    FPInterfaceDesc& operator=(const FPInterfaceDesc&) = delete;
    ~FPInterfaceDesc() override;
    FPInterfaceDesc* GetDesc() override { return this; }

    // Takes the description from the variable argument list ap, which holds for each function
    //   FunctionID id, const MCHAR* internal name, StringResID description, ParamType2 result,
    //   ULONG flags, int parameter count, then per parameter
    //   const MCHAR* internal name, StringResID description, ParamType2 type,
    // and ends with p_end.
    void load_descriptor(Interface_ID id, const MCHAR* int_name, StringResID descr, ClassDesc* pCD,
                         ULONG flag, va_list ap);
};

// A core interface lives for the whole life of its module.
class FPStaticInterface : public FPInterfaceDesc {};

// The core interface registered under id (the latest, when several modules registered one), or
// null.
FPInterface* GetCOREInterface(Interface_ID id);
// The registered core interfaces, in the order they were registered.
int NumCOREInterfaces();
FPInterface* GetCOREInterfaceAt(int i);
