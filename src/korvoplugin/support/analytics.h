// Usage events sent to the outside analytics module (Analytics.so beside the plug-in's file). The
// module is looked for once, on the first hit; without it every hit is dropped silently.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/max_types.h"

namespace Korvo {

// The events and the detail text each carries.
enum class AnalyticsEvent : std::int32_t {
    GenerateAccepted = 0,  // the current renderer's class name
    Cancelled = 1,         // no detail
    ErrorShown = 2,        // the error status code as decimal text
    RunCompleted = 3,      // no detail
    RunStarted = 7,        // the number of picked cameras as decimal text
};

inline constexpr const MCHAR* kAnalyticsModuleName = L"Analytics.so";

// Forwards the hit to the module's SendHit and answers its result; false when analytics is
// disabled. The identifier is passed as text, never null; detail may be null.
bool SendAnalyticsHit(std::int32_t category, AnalyticsEvent event, const MSTR& identifier,
                      const MCHAR* detail, bool flag);

}  // namespace Korvo
