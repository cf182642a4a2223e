// Telling renderers apart by their class identifier.
#pragma once

#include "host/render.h"

namespace Korvo {

enum class RendererKind : int {
    None = 0,
    Other = 1,
    VRay = 2,
    VRayRT = 3,
    MentalRay = 5,
    Arnold = 6
};

constexpr Class_ID kVRayClassID{0x73BAB286, 0x77F8FD0C};
constexpr Class_ID kVRayRTClassID{0x698A4B98, 0x4EDD05F5};
constexpr Class_ID kMentalRayClassID{0x58F67D6C, 0x4FCF3BC3};
constexpr Class_ID kArnoldClassID{0xB1A438DE, 0xA045667A};

// None for no renderer; Other for every class identifier not named above (both words must match).
RendererKind ClassifyRenderer(Renderer* renderer);

// Every renderer but V-Ray RT can be used.
bool IsRendererSupported(Renderer* renderer);

// The host's current renderer, created when there is none.
Renderer* CurrentRenderer();

}  // namespace Korvo
