#include "render/renderer_events.h"

#include "host/maxscript.h"
#include "render/renderer_kind.h"

namespace Korvo {

const MCHAR* const kLensShaderSetupScript =
    L"if korvo_stereo_shader == null then\n"
    L"  korvo_stereo_shader = KorvoStereo()\n"
    L"renderers.current.Camera_Lens_Shader = korvo_stereo_shader\n"
    L"renderers.current.Enable_Camera_Lens_Shader = true";
const MCHAR* const kLeftEyeScript = L"renderers.current.Camera_Lens_Shader.Left_Eye = true";
const MCHAR* const kRightEyeScript = L"renderers.current.Camera_Lens_Shader.Left_Eye = false";

void MentalRayStereoEvents::OnRunStart() {
    ExecuteMAXScriptScript(kLensShaderSetupScript, FALSE, nullptr);
}

void MentalRayStereoEvents::OnBeforeFace(int, int eye, bool stereo) {
    if (!stereo) return;
    ExecuteMAXScriptScript(eye == 0 ? kLeftEyeScript : kRightEyeScript, FALSE, nullptr);
}

std::shared_ptr<RendererEvents> MakeRendererEvents(Renderer* renderer) {
    if (ClassifyRenderer(renderer) == RendererKind::MentalRay)
        return std::make_shared<MentalRayStereoEvents>();
    return std::make_shared<RendererEvents>();
}

}  // namespace Korvo
