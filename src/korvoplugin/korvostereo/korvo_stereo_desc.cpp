#include "korvostereo/korvo_stereo_desc.h"

#include "resources/resource.h"
#include "resources/resource_text.h"
#include "support/module_handle.h"

namespace Korvo {
namespace {

// Describes the map class to the host. Maps of the class are not made by this library yet, so
// Create answers null and the host reports the class as unavailable.
class KorvoStereoClassDesc final : public ClassDesc2 {
  public:
    int IsPublic() override { return 1; }
    void* Create(BOOL) override { return nullptr; }
    const MCHAR* ClassName() override { return LastingResourceText(IDS_STEREO_CLASS_NAME); }
    SClass_ID SuperClassID() override { return TEXMAP_CLASS_ID; }
    Class_ID ClassID() override { return kKorvoStereoClassID; }
    const MCHAR* Category() override { return LastingResourceText(IDS_CATEGORY); }
    const MCHAR* InternalName() override { return L"KorvoStereo"; }
    HINSTANCE HInstance() override { return PluginInstance(); }
};

}  // namespace

ClassDesc2* GetKorvoStereoDesc() {
    static KorvoStereoClassDesc desc;
    return &desc;
}

}  // namespace Korvo
