// The host's script engine as the system uses it.
#pragma once

#include <string>
#include <vector>

namespace KorvoHost {

// Every script text the host was asked to run, in order.
const std::vector<std::wstring>& ExecutedScripts();
void ClearExecutedScripts();

}  // namespace KorvoHost
