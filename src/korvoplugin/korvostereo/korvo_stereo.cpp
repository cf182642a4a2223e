#include "korvostereo/korvo_stereo.h"

#include <cwctype>
#include <string_view>

#include "host/assert.h"
#include "korvostereo/korvo_stereo_desc.h"
#include "resources/resource.h"
#include "resources/resource_text.h"

namespace Korvo {
namespace {

#define KORVO_WIDEN2(text) L##text
#define KORVO_WIDEN(text) KORVO_WIDEN2(text)
const MCHAR* const kSourceFile = KORVO_WIDEN(__FILE__);

bool SameParamName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

// The id of the block's first parameter whose internal name is `name` but for case, or -1.
ParamID GetParamIDByName(const MCHAR* name, const ParamBlockDesc2& desc) {
    for (int i = 0; i < desc.Count(); ++i) {
        const ParamDef& def = desc.paramdefs[i];
        if (def.int_name && SameParamName(def.int_name, name)) return def.ID;
    }
    assert1(__LINE__, kSourceFile, L"`anonymous-namespace'::GetParamIDByName", L"false");
    return -1;
}

}  // namespace

KorvoStereo::~KorvoStereo() { DeleteAllRefs(); }

Class_ID KorvoStereo::ClassID() { return kKorvoStereoClassID; }

void KorvoStereo::GetClassName(MSTR& name, bool) const {
    name = ResourceString(IDS_STEREO_CLASS_NAME);
}

MSTR KorvoStereo::SubAnimName(int i, bool) {
    return i == 0 ? ResourceString(IDS_PARAMETERS) : MSTR();
}

IParamBlock2* KorvoStereo::GetParamBlockByID(BlockID id) {
    return pblock_ && pblock_->ID() == id ? pblock_ : nullptr;
}

BaseInterface* KorvoStereo::GetInterface(Interface_ID id) {
    if (id == IMRSHADERTRANSLATION_INTERFACE_ID) return static_cast<imrShaderTranslation*>(this);
    return nullptr;
}

void KorvoStereo::SetReference(int i, RefTargetHandle target) {
    if (i != 0) return;
    if (target && target->SuperClassID() != PARAMETER_BLOCK2_CLASS_ID) {
        assert1(__LINE__, kSourceFile, L"KorvoStereo::SetReference",
                L"(rtarg == NULL) || (rtarg->SuperClassID() == PARAMETER_BLOCK2_CLASS_ID)");
        return;
    }
    pblock_ = static_cast<IParamBlock2*>(target);
}

RefTargetHandle KorvoStereo::Clone(RemapDir& remap) {
    auto* copy = new KorvoStereo();  // freed by the host through DeleteThis
    for (int i = 0; i < NumRefs(); ++i) copy->ReplaceReference(i, remap.CloneRef(GetReference(i)));
    static_cast<MtlBase&>(*copy) = static_cast<const MtlBase&>(*this);
    BaseClone(this, copy, remap);
    return copy;
}

ParamDlg* KorvoStereo::CreateParamDlg(HWND editor, IMtlParams* params) {
    return GetKorvoStereoDesc()->CreateParamDlgs(editor, params, this);
}

void KorvoStereo::Update(TimeValue t, Interval& valid) {
    for (int i = 0; i < NumSubTexmaps(); ++i)
        if (Texmap* map = GetSubTexmap(i)) map->Update(t, valid);
}

void KorvoStereo::Reset() { GetKorvoStereoDesc()->Reset(this); }

Interval KorvoStereo::Validity(TimeValue t) {
    Interval valid = FOREVER;
    if (pblock_) pblock_->GetValidity(t, valid);
    for (int i = 0; i < NumSubTexmaps(); ++i)
        if (Texmap* map = GetSubTexmap(i)) valid &= map->Validity(t);
    return valid;
}

imrShader* KorvoStereo::GetMRShader(imrShaderCreation& shaderCreation) {
    return shaderCreation.CreateShader(L"KorvoStereo", GetFullName().c_str());
}

void KorvoStereo::TranslateParameters(imrTranslation&, imrShader* shader, TimeValue t,
                                      Interval& valid) {
    if (!shader || !pblock_) {
        assert1(__LINE__, kSourceFile, L"KorvoStereo::TranslateParameters", L"false");
        return;
    }
    int leftEye = 0;
    pblock_->GetValue(kLeftEyeParam, t, leftEye, valid);

    IParamBlock2* shaderBlock = shader->GetParametersParamBlock();
    const ParamBlockDesc2* desc = shaderBlock ? shaderBlock->GetDesc() : nullptr;
    if (!shaderBlock || !desc) {
        assert1(__LINE__, kSourceFile, L"KorvoStereo::TranslateParameters", L"false");
        return;
    }
    const ParamID id = GetParamIDByName(L"Left_Eye", *desc);
    if (id < 0) return;
    shaderBlock->SetValue(id, 0, leftEye);
}

}  // namespace Korvo
