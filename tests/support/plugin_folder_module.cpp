// Stands in for the plug-in file in the analytics tests: the analytics module is looked for
// beside the file of the plug-in's module handle.
#include "host/win32_platform.h"

extern "C" DLLEXPORT int PluginFolderModule() { return 1; }
