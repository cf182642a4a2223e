// Parameter block descriptors: what a class's parameter blocks hold, with defaults and the
// automatic user interface. A class descriptor keeps the descriptors of its class; the host
// builds blocks from them.
#pragma once

#include <vector>

#include "host/function_publishing.h"
#include "host/max_types.h"
#include "host/scene.h"

class ClassDesc2;

// Block flags.
constexpr int P_AUTO_CONSTRUCT = 0x0001;  // the host makes the block for each new object
constexpr int P_AUTO_UI = 0x0002;         // the host builds the block's rollout

// Parameter flags.
constexpr int P_ANIMATABLE = 0x0001;

// Controls of the automatic user interface.
enum ControlType2 { TYPE_NONE_CONTROL = 0, TYPE_SINGLECHEKBOX = 1 };

struct ParamDef {
    ParamID ID = 0;
    const MCHAR* int_name = nullptr;
    ParamType2 type = TYPE_INT;  // TYPE_BOOL, TYPE_INT or TYPE_FLOAT
    int flags = 0;
    int local_name = 0;  // string resource of the name shown to the user
    int defaultInt = 0;  // TYPE_BOOL and TYPE_INT
    float defaultFloat = 0.0f;
    ControlType2 ctrl_type = TYPE_NONE_CONTROL;
    int ctrl_ID = 0;  // the control of the rollout bound to the parameter
};

class ParamBlockDesc2 {
  public:
    ParamBlockDesc2() = default;
    // Describes a block of the class and registers it with the class descriptor.
    ParamBlockDesc2(BlockID id, const MCHAR* internalName, int localName, ClassDesc2* owner,
                    int blockFlags, int referenceNumber, int dialogTemplate, int dialogTitle,
                    std::vector<ParamDef> parameters);

    BlockID ID = 0;
    const MCHAR* int_name = nullptr;
    int local_name = 0;
    ClassDesc2* cd = nullptr;
    int flags = 0;
    int ref_no = 0;        // the owner's reference that holds the block
    int dlg_template = 0;  // P_AUTO_UI: the rollout's dialog resource
    int title = 0;         // P_AUTO_UI: string resource of the rollout's title
    std::vector<ParamDef> paramdefs;

    int Count() const { return static_cast<int>(paramdefs.size()); }
    // -1 outside 0 .. Count() − 1.
    ParamID IndextoID(int index) const {
        return index >= 0 && index < Count() ? paramdefs[index].ID : ParamID(-1);
    }
    // -1 for an id the block does not have.
    int IDtoIndex(ParamID id) const {
        for (int i = 0; i < Count(); ++i)
            if (paramdefs[i].ID == id) return i;
        return -1;
    }
    // The parameter with that id, or null.
    const ParamDef* GetParamDefByID(ParamID id) const {
        const int i = IDtoIndex(id);
        return i < 0 ? nullptr : &paramdefs[i];
    }
};
