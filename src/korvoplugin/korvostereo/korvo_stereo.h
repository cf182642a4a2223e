// The lens shader's map class: inside the host it stands for the renderer's KorvoStereo lens
// shader. It has no shading of its own; under mental ray it hands the renderer the shader and
// copies its Left_Eye parameter across.
#pragma once

#include "host/material.h"
#include "host/mental_ray.h"
#include "host/param_block_desc.h"

namespace Korvo {

constexpr BlockID kStereoParamBlock = 0;
constexpr ParamID kLeftEyeParam = 0;

class KorvoStereo final : public Texmap, public imrShaderTranslation {
  public:
    // Without a parameter block; the class descriptor gives a new map its block.
    KorvoStereo() = default;
    ~KorvoStereo() override;
    KorvoStereo(const KorvoStereo&) = delete;
    KorvoStereo& operator=(const KorvoStereo&) = delete;

    // ---- Animatable and references -----------------------------------------------------------
    Class_ID ClassID() override;
    void GetClassName(MSTR& name, bool localized = true) const override;
    void DeleteThis() override { delete this; }
    int NumSubs() override { return 1; }
    Animatable* SubAnim(int i) override { return i == 0 ? pblock_ : nullptr; }
    MSTR SubAnimName(int i, bool localized = true) override;
    int NumParamBlocks() override { return 1; }
    IParamBlock2* GetParamBlock(int i) override { return i == 0 ? pblock_ : nullptr; }
    IParamBlock2* GetParamBlockByID(BlockID id) override;
    BaseInterface* GetInterface(Interface_ID id) override;
    int NumRefs() override { return 1; }
    RefTargetHandle GetReference(int i) override { return i == 0 ? pblock_ : nullptr; }
    // Takes only a parameter block (or nothing); any other target is refused with an assertion.
    void SetReference(int i, RefTargetHandle target) override;
    RefTargetHandle Clone(RemapDir& remap) override;

    // ---- Map -----------------------------------------------------------------------------------
    ParamDlg* CreateParamDlg(HWND editor, IMtlParams* params) override;
    void Update(TimeValue t, Interval& valid) override;
    void Reset() override;
    Interval Validity(TimeValue t) override;
    // Black and transparent to the host's own renderers.
    AColor EvalColor(ShadeContext&) override { return {0.0f, 0.0f, 0.0f, 0.0f}; }
    Point3 EvalNormalPerturb(ShadeContext&) override { return {0.0f, 0.0f, 0.0f}; }

    // ---- mental ray translation ----------------------------------------------------------------
    imrShader* GetMRShader(imrShaderCreation& shaderCreation) override;
    void ReleaseMRShader() override {}
    bool NeedsAutomaticParamBlock2Translation() override { return false; }
    // Sets the shader's Left_Eye (found ignoring case) to the map's value at time t. A missing
    // shader, block or parameter is reported through the host's assertion and changes nothing.
    void TranslateParameters(imrTranslation& translation, imrShader* shader, TimeValue t,
                             Interval& valid) override;
    void GetAdditionalReferenceDependencies(AdditionalDependencyTable&) override {}

  private:
    IParamBlock2* pblock_ = nullptr;  // reference 0; the host owns it
};

}  // namespace Korvo
