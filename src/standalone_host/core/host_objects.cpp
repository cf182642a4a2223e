#include "standalone_host/core/host_objects.h"

#include <cmath>
#include <cstdio>
#include <mutex>

#include "host/assert.h"
#include "host/material.h"
#include "host/plugin.h"
#include "host/win32_window.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoHost {
namespace {

bool gAnimating = false;

struct Store {
    std::vector<ReferenceTarget*> pluginObjects;
    std::vector<std::unique_ptr<IParamBlock2>> blocks;
};
// Never destroyed: a host torn down while the program exits (a HostApp in a static, as the
// benchmarks keep theirs) still finds the store it releases its objects from.
Store& Objects() {
    static Store* const store = new Store;
    return *store;
}

std::mutex gAssertionMutex;
std::vector<HostAssertion>& Assertions() {
    static std::vector<HostAssertion> assertions;
    return assertions;
}

const std::map<TimeValue, double> kNoKeys;

}  // namespace

// ---- Described parameter blocks -----------------------------------------------------------------

DescribedParamBlock::DescribedParamBlock(ParamBlockDesc2& desc) : desc_(desc) { ResetAll(); }

MSTR DescribedParamBlock::GetParamName(ParamID id) {
    const ParamDef* def = desc_.GetParamDefByID(id);
    return def && def->int_name ? MSTR(def->int_name) : MSTR();
}

void DescribedParamBlock::ResetAll(BOOL, BOOL) {
    slots_.clear();
    for (const ParamDef& def : desc_.paramdefs)
        slots_[def.ID].value =
            def.type == TYPE_FLOAT ? double(def.defaultFloat) : double(def.defaultInt);
}

DescribedParamBlock::Slot* DescribedParamBlock::Find(ParamID id) {
    const auto it = slots_.find(id);
    return it == slots_.end() ? nullptr : &it->second;
}

BOOL DescribedParamBlock::Write(ParamID id, TimeValue t, double value) {
    Slot* slot = Find(id);
    const ParamDef* def = desc_.GetParamDefByID(id);
    if (!slot || !def) return FALSE;
    if (def->type == TYPE_BOOL) value = value != 0.0 ? 1.0 : 0.0;
    if (def->type != TYPE_FLOAT) value = std::trunc(value);
    if (gAnimating && (def->flags & P_ANIMATABLE)) {
        slot->keys[t] = value;
    } else {
        slot->keys.clear();
        slot->value = value;
    }
    return TRUE;
}

BOOL DescribedParamBlock::SetValue(ParamID id, TimeValue t, int value, int) {
    return Write(id, t, value);
}
BOOL DescribedParamBlock::SetValue(ParamID id, TimeValue t, float value, int) {
    return Write(id, t, value);
}

double DescribedParamBlock::Read(const Slot& slot, const ParamDef& def, TimeValue t,
                                 Interval& valid) const {
    if (slot.keys.empty()) return slot.value;
    const auto after = slot.keys.upper_bound(t);  // first key later than t
    if (after == slot.keys.begin()) {
        valid &= Interval(TIME_NegInfinity, after->first - 1);
        return after->second;
    }
    const auto at = std::prev(after);
    if (after == slot.keys.end()) {
        valid &= Interval(at->first, TIME_PosInfinity);
        return at->second;
    }
    if (def.type != TYPE_FLOAT || at->first == t) {
        valid &= def.type != TYPE_FLOAT ? Interval(at->first, after->first - 1) : Interval(t, t);
        return at->second;
    }
    valid &= Interval(t, t);
    const double f = double(t - at->first) / double(after->first - at->first);
    return at->second + (after->second - at->second) * f;
}

BOOL DescribedParamBlock::GetValue(ParamID id, TimeValue t, int& value, Interval& valid, int) {
    Slot* slot = Find(id);
    const ParamDef* def = desc_.GetParamDefByID(id);
    if (!slot || !def || def->type == TYPE_FLOAT) return FALSE;
    value = static_cast<int>(Read(*slot, *def, t, valid));
    return TRUE;
}

BOOL DescribedParamBlock::GetValue(ParamID id, TimeValue t, float& value, Interval& valid, int) {
    Slot* slot = Find(id);
    const ParamDef* def = desc_.GetParamDefByID(id);
    if (!slot || !def) return FALSE;
    value = static_cast<float>(Read(*slot, *def, t, valid));
    return TRUE;
}

void DescribedParamBlock::GetValidity(TimeValue t, Interval& valid) {
    for (const auto& [id, slot] : slots_)
        if (const ParamDef* def = desc_.GetParamDefByID(id)) Read(slot, *def, t, valid);
}

RefTargetHandle DescribedParamBlock::Clone(RemapDir&) {
    auto copy = std::make_unique<DescribedParamBlock>(desc_);
    copy->slots_ = slots_;
    DescribedParamBlock* result = copy.get();
    AdoptParamBlock(std::move(copy));
    return result;
}

const std::map<TimeValue, double>& DescribedParamBlock::Keys(ParamID id) const {
    const auto it = slots_.find(id);
    return it == slots_.end() ? kNoKeys : it->second.keys;
}

void SetAnimating(bool on) { gAnimating = on; }
bool Animating() { return gAnimating; }

// ---- What the host keeps for the session --------------------------------------------------------

void AdoptParamBlock(std::unique_ptr<IParamBlock2> block) {
    Objects().blocks.push_back(std::move(block));
}

void AdoptPluginObject(ReferenceTarget* object) {
    if (object) Objects().pluginObjects.push_back(object);
}

void ReleaseHostObjects() {
    Store& store = Objects();
    // Plug-in objects drop their references to the blocks as they go.
    std::vector<ReferenceTarget*> objects = std::move(store.pluginObjects);
    store.pluginObjects.clear();
    for (ReferenceTarget* object : objects) object->DeleteThis();
    store.blocks.clear();
}

RefTargetHandle HostRemapDir::CloneRef(RefTargetHandle target) {
    if (!target) return nullptr;
    const auto it = clones_.find(target);
    if (it != clones_.end()) return it->second;
    RefTargetHandle copy = target->Clone(*this);
    clones_[target] = copy;
    return copy;
}

// ---- Assertions ---------------------------------------------------------------------------------

const std::vector<HostAssertion>& RecordedAssertions() { return Assertions(); }
void ClearRecordedAssertions() {
    std::lock_guard lock(gAssertionMutex);
    Assertions().clear();
}

// ---- The automatic rollouts of a class's blocks -------------------------------------------------

namespace {

// One rollout per auto-UI block, each a dialog of the class's module whose check boxes follow
// and set the block's parameters.
class AutoParamDlg final : public ParamDlg {
  public:
    explicit AutoParamDlg(ReferenceTarget* thing) : thing_(thing) {}
    ~AutoParamDlg() override {
        for (HWND window : windows_) DestroyWindow(window);
    }

    bool Open(HINSTANCE module, HWND editor, ParamBlockDesc2& desc) {
        IParamBlock2* block = thing_ ? thing_->GetParamBlockByID(desc.ID) : nullptr;
        if (!block) return false;
        auto page = std::make_unique<Page>(Page{block, &desc});
        const HWND window =
            CreateDialogParamW(module, MAKEINTRESOURCEW(WORD(desc.dlg_template)), editor,
                               &AutoParamDlg::Proc, reinterpret_cast<LPARAM>(page.get()));
        if (!window) return false;
        windows_.push_back(window);
        pages_.push_back(std::move(page));
        return true;
    }
    bool Empty() const { return windows_.empty(); }
    const std::vector<HWND>& Windows() const { return windows_; }

    ReferenceTarget* GetThing() override { return thing_; }
    void SetThing(ReferenceTarget* thing) override { thing_ = thing; }
    void DeleteThis() override { delete this; }

  private:
    struct Page {
        IParamBlock2* block;
        ParamBlockDesc2* desc;
    };

    static INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
            auto* page = reinterpret_cast<Page*>(lParam);
            for (const ParamDef& def : page->desc->paramdefs) {
                if (def.ctrl_type != TYPE_SINGLECHEKBOX) continue;
                if (Window* box = FromHandle(GetDlgItem(dialog, def.ctrl_ID))) {
                    box->checked = page->block->GetInt(def.ID) != 0;
                    WindowManager::Instance().Changed(*box);
                }
            }
            return TRUE;
        }
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            auto* page = reinterpret_cast<Page*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
            if (!page) return FALSE;
            for (const ParamDef& def : page->desc->paramdefs) {
                if (def.ctrl_type != TYPE_SINGLECHEKBOX || def.ctrl_ID != LOWORD(wParam)) continue;
                const Window* box = FromHandle(GetDlgItem(dialog, def.ctrl_ID));
                page->block->SetValue(def.ID, 0, box && box->checked ? TRUE : FALSE);
                return TRUE;
            }
        }
        return FALSE;
    }

    ReferenceTarget* thing_;
    std::vector<std::unique_ptr<Page>> pages_;
    std::vector<HWND> windows_;
};

}  // namespace

}  // namespace KorvoHost

// ---- Host SDK functions
// ---------------------------------------------------------------------------

ParamBlockDesc2::ParamBlockDesc2(BlockID id, const MCHAR* internalName, int localName,
                                 ClassDesc2* owner, int blockFlags, int referenceNumber,
                                 int dialogTemplate, int dialogTitle,
                                 std::vector<ParamDef> parameters)
    : ID(id),
      int_name(internalName),
      local_name(localName),
      cd(owner),
      flags(blockFlags),
      ref_no(referenceNumber),
      dlg_template(dialogTemplate),
      title(dialogTitle),
      paramdefs(std::move(parameters)) {
    if (owner) owner->AddParamBlockDesc(this);
}

ParamBlockDesc2* ClassDesc2::GetParamBlockDescByID(BlockID id) const {
    for (ParamBlockDesc2* desc : paramBlockDescs_)
        if (desc->ID == id) return desc;
    return nullptr;
}

void ClassDesc2::MakeAutoParamBlocks(ReferenceMaker* owner) {
    if (!owner) return;
    for (ParamBlockDesc2* desc : paramBlockDescs_) {
        if (!(desc->flags & P_AUTO_CONSTRUCT)) continue;
        auto block = std::make_unique<KorvoHost::DescribedParamBlock>(*desc);
        owner->ReplaceReference(desc->ref_no, block.get());
        KorvoHost::AdoptParamBlock(std::move(block));
    }
}

void ClassDesc2::Reset(ReferenceTarget* owner, BOOL updateUI, BOOL callSetHandlers) {
    if (!owner) return;
    for (ParamBlockDesc2* desc : paramBlockDescs_) {
        if (!(desc->flags & P_AUTO_CONSTRUCT)) continue;
        if (IParamBlock2* block = owner->GetParamBlockByID(desc->ID))
            block->ResetAll(updateUI, callSetHandlers);
    }
}

ParamDlg* ClassDesc2::CreateParamDlgs(HWND editor, IMtlParams*, ReferenceTarget* owner) {
    auto dialogs = std::make_unique<KorvoHost::AutoParamDlg>(owner);
    for (ParamBlockDesc2* desc : paramBlockDescs_)
        if (desc->flags & P_AUTO_UI) dialogs->Open(HInstance(), editor, *desc);
    return dialogs->Empty() ? nullptr : dialogs.release();
}

MSTR MtlBase::GetFullName() {
    MSTR className;
    GetClassName(className);
    return className.empty() ? name_ : name_ + L" (" + className + L")";
}

void assert1(int line, const MCHAR* file, const MCHAR* function, const MCHAR* expression) {
    KorvoHost::HostAssertion assertion{line, file ? file : L"", function ? function : L"",
                                       expression ? expression : L""};
    std::fprintf(stderr, "Assertion failed: %s in %s (%s, line %d)\n",
                 KorvoHost::ToUtf8(assertion.expression).c_str(),
                 KorvoHost::ToUtf8(assertion.function).c_str(),
                 KorvoHost::ToUtf8(assertion.file).c_str(), line);
    std::lock_guard lock(KorvoHost::gAssertionMutex);
    KorvoHost::Assertions().push_back(std::move(assertion));
}
