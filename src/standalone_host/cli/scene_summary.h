// What a scene holds, as the korvo command shows it to a person.
#pragma once

#include <string>
#include <vector>

#include "host/interface.h"

namespace KorvoCli {

struct CameraSummary {
    std::wstring name;
    std::string description;  // "free camera, 60.0° field of view", …
};

struct SceneSummary {
    std::wstring rendererName;
    std::string rendererKind;  // the plug-in's kind: "Other", "VRay", "MentalRay", …
    std::string backEnd;       // how the plug-in will make panoramas with it
    std::vector<CameraSummary> cameras;
    std::vector<std::wstring> helpers;
};

SceneSummary Summarize(Interface& ip);

}  // namespace KorvoCli
