// The library's entry point and the exports through which the host enumerates its classes.
#include "host/plugin.h"
#include "korvo_plugin.h"
#include "korvostereo/korvo_stereo_desc.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "support/host_boundary.h"
#include "support/module_handle.h"

extern "C" {

DLLEXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        Korvo::SetPluginInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

DLLEXPORT const MCHAR* LibDescription() {
    return Korvo::GuardedCall<const MCHAR*>(
        L"", [] { return Korvo::LastingResourceText(Korvo::IDS_LIB_DESCRIPTION); });
}

DLLEXPORT int LibNumberClasses() { return 2; }

DLLEXPORT ClassDesc* LibClassDesc(int i) {
    return Korvo::GuardedCall<ClassDesc*>(nullptr, [i]() -> ClassDesc* {
        switch (i) {
            case 0:
                return Korvo::GetKorvoPluginClassDesc();
            case 1:
                return Korvo::GetKorvoStereoDesc();
            default:
                return nullptr;
        }
    });
}

DLLEXPORT ULONG LibVersion() { return VERSION_3DSMAX; }

DLLEXPORT int LibInitialize() { return TRUE; }

DLLEXPORT int LibShutdown() { return TRUE; }

// The host must load the library at start-up: it publishes the script interface.
DLLEXPORT ULONG CanAutoDefer() { return 0; }

}  // extern "C"
