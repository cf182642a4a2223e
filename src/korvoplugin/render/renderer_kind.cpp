#include "render/renderer_kind.h"

#include "host/interface.h"

namespace Korvo {

RendererKind ClassifyRenderer(Renderer* renderer) {
    if (!renderer) return RendererKind::None;
    const Class_ID id = renderer->ClassID();
    if (id == kVRayClassID) return RendererKind::VRay;
    if (id == kVRayRTClassID) return RendererKind::VRayRT;
    if (id == kMentalRayClassID) return RendererKind::MentalRay;
    if (id == kArnoldClassID) return RendererKind::Arnold;
    return RendererKind::Other;
}

bool IsRendererSupported(Renderer* renderer) {
    return ClassifyRenderer(renderer) != RendererKind::VRayRT;
}

Renderer* CurrentRenderer() {
    Interface* ip = GetCOREInterface();
    return ip ? ip->GetCurrentRenderer(true) : nullptr;
}

}  // namespace Korvo
