#include "korvostereo/korvo_stereo_desc.h"

#include "host/material.h"
#include "host/mental_ray.h"
#include "host/param_block_desc.h"
#include "korvostereo/korvo_stereo.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "support/module_handle.h"

namespace Korvo {
namespace {

// The one renderer the map is of use to.
constexpr Class_ID kMentalRayRendererClassID{0x58F67D6C, 0x4FCF3BC3};

// Tells the mental ray translator how the class applies.
class StereoClassInfo final : public imrShaderTranslation_ClassInfo {
  public:
    int GetApplyTypes() override { return 1; }
};

// The map is of use to mental ray only.
class StereoRenderCompatibility final : public IMtlRender_Compatibility_MtlBase {
  public:
    bool IsCompatibleWithRenderer(ClassDesc& rendererClassDesc) override {
        return rendererClassDesc.ClassID() == kMentalRayRendererClassID;
    }
};

class KorvoStereoClassDesc final : public ClassDesc2 {
  public:
    KorvoStereoClassDesc()
        : params_(kStereoParamBlock, L"Parameters", IDS_PARAMETERS, this,
                  P_AUTO_CONSTRUCT | P_AUTO_UI, 0, IDD_STEREO_PARAMS, IDS_PARAMETERS,
                  {LeftEyeParam()}) {}

    int IsPublic() override { return 1; }
    void* Create(BOOL loading) override {
        auto* map = new KorvoStereo();  // freed by the host through DeleteThis
        if (!loading) MakeAutoParamBlocks(map);
        return static_cast<ReferenceTarget*>(map);
    }
    const MCHAR* ClassName() override { return LastingResourceText(IDS_STEREO_CLASS_NAME); }
    SClass_ID SuperClassID() override { return TEXMAP_CLASS_ID; }
    Class_ID ClassID() override { return kKorvoStereoClassID; }
    const MCHAR* Category() override { return LastingResourceText(IDS_CATEGORY); }
    const MCHAR* InternalName() override { return L"KorvoStereo"; }
    HINSTANCE HInstance() override { return PluginInstance(); }
    void ResetClassParams(BOOL) override {}

    int NumInterfaces() override { return 2; }
    FPInterface* GetInterfaceAt(int i) override {
        return i == 0   ? static_cast<FPInterface*>(&classInfo_)
               : i == 1 ? static_cast<FPInterface*>(&compatibility_)
                        : nullptr;
    }
    FPInterface* GetInterface(Interface_ID id) override {
        if (id == IMRSHADERTRANSLATION_CLASSINFO_INTERFACE_ID) return &classInfo_;
        if (id == IMTLRENDER_COMPATIBILITY_MTLBASE_INTERFACEID) return &compatibility_;
        return nullptr;
    }

  private:
    static ParamDef LeftEyeParam() {
        ParamDef def;
        def.ID = kLeftEyeParam;
        def.int_name = L"Left_Eye";
        def.type = TYPE_BOOL;
        def.flags = P_ANIMATABLE;
        def.local_name = IDS_LEFT_EYE;
        def.defaultInt = TRUE;
        def.ctrl_type = TYPE_SINGLECHEKBOX;
        def.ctrl_ID = IDC_LEFT_EYE;
        return def;
    }

    ParamBlockDesc2 params_;
    StereoClassInfo classInfo_;
    StereoRenderCompatibility compatibility_;
};

}  // namespace

ClassDesc2* GetKorvoStereoDesc() {
    static KorvoStereoClassDesc desc;
    return &desc;
}

}  // namespace Korvo
