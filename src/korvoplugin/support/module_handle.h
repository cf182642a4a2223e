// The plug-in library's own module handle, used for every resource lookup and to find the files
// that live beside the library.
#pragma once

#include "host/win32_platform.h"

namespace Korvo {

// Null until the library's entry point has run (or a test has set it).
HINSTANCE PluginInstance();
void SetPluginInstance(HINSTANCE instance);

}  // namespace Korvo
