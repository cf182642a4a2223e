// Objects the host makes for plug-ins and keeps for the session: parameter blocks built from a
// class's descriptors, the plug-in objects scripts create, and the record of host assertions.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/param_block_desc.h"
#include "host/scene.h"

namespace KorvoHost {

// A parameter block with a descriptor: each parameter starts at its default. With animation on,
// a write to an animatable parameter sets a key at its time; reads between keys hold the last
// key's value (integers and booleans) or interpolate (floats).
class DescribedParamBlock final : public IParamBlock2 {
  public:
    explicit DescribedParamBlock(ParamBlockDesc2& desc);

    Class_ID ClassID() override { return {0x00000082, 0}; }
    BlockID ID() override { return desc_.ID; }
    int NumParams() override { return desc_.Count(); }
    ParamID IndextoID(int index) override { return desc_.IndextoID(index); }
    MSTR GetParamName(ParamID id) override;
    // FALSE for an id the block does not have.
    BOOL SetValue(ParamID id, TimeValue t, int value, int tabIndex = 0) override;
    BOOL SetValue(ParamID id, TimeValue t, float value, int tabIndex = 0) override;
    BOOL GetValue(ParamID id, TimeValue t, int& value, Interval& valid, int tabIndex = 0) override;
    BOOL GetValue(ParamID id, TimeValue t, float& value, Interval& valid,
                  int tabIndex = 0) override;
    void ResetAll(BOOL updateUI = TRUE, BOOL callSetHandlers = TRUE) override;
    ParamBlockDesc2* GetDesc() override { return &desc_; }
    void GetValidity(TimeValue t, Interval& valid) override;
    RefTargetHandle Clone(RemapDir& remap) override;

    // Keys of a parameter, by time; empty for a constant one.
    const std::map<TimeValue, double>& Keys(ParamID id) const;

  private:
    struct Slot {
        double value = 0.0;
        std::map<TimeValue, double> keys;
    };
    Slot* Find(ParamID id);
    BOOL Write(ParamID id, TimeValue t, double value);
    double Read(const Slot& slot, const ParamDef& def, TimeValue t, Interval& valid) const;

    ParamBlockDesc2& desc_;
    std::map<ParamID, Slot> slots_;
};

// While on, writes to animatable parameters set keys (the host's animate button).
void SetAnimating(bool on);
bool Animating();

// Owns what the host made or adopted for the session, until ReleaseHostObjects.
void AdoptParamBlock(std::unique_ptr<IParamBlock2> block);
// A plug-in object: freed with its DeleteThis.
void AdoptPluginObject(ReferenceTarget* object);
// Frees the plug-in objects, then the blocks. Call before the plug-ins are unloaded.
void ReleaseHostObjects();

// Clones each target once within one clone operation.
class HostRemapDir final : public RemapDir {
  public:
    RefTargetHandle CloneRef(RefTargetHandle target) override;

  private:
    std::map<RefTargetHandle, RefTargetHandle> clones_;
};

// Every assertion raised through the host, in order.
struct HostAssertion {
    int line = 0;
    std::wstring file;
    std::wstring function;
    std::wstring expression;
};
const std::vector<HostAssertion>& RecordedAssertions();
void ClearRecordedAssertions();

}  // namespace KorvoHost
