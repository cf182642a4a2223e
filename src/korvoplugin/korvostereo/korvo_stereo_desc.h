// The class descriptor of the lens shader's map class, the library's second class.
#pragma once

#include "host/plugin.h"

namespace Korvo {

constexpr Class_ID kKorvoStereoClassID{0x26B1639B, 0x662A38C8};

// Built on first use (thread-safe), with the map's parameter block descriptor.
ClassDesc2* GetKorvoStereoDesc();

}  // namespace Korvo
