// The output folder the user picks in the shell's folder browser.
#pragma once

#include <optional>

#include "host/max_types.h"
#include "host/win32_platform.h"

namespace Korvo {

// Opens the folder browser owned by the window, showing the initial folder selected when one is
// given. A typed name that is no existing folder is refused with error 5 and its dialog while the
// browser stays open. Nothing when the user cancels.
std::optional<MSTR> BrowseForOutputFolder(HWND owner, const MCHAR* initialFolder);

}  // namespace Korvo
