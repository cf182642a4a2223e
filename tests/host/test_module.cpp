// A module for the loader tests. Its DllMain appends the reason of each call to the file named by
// KORVO_TEST_MODULE_TRACE ("attach" or "detach", one per line); built with
// KORVO_TEST_REFUSE_ATTACH it refuses to attach.
#include <cstdio>
#include <cstdlib>

#include "host/win32_platform.h"

extern "C" DLLEXPORT BOOL DllMain(HINSTANCE, DWORD reason, void*) {
    if (const char* trace = std::getenv("KORVO_TEST_MODULE_TRACE")) {
        if (std::FILE* file = std::fopen(trace, "a")) {
            std::fputs(reason == DLL_PROCESS_ATTACH ? "attach\n" : "detach\n", file);
            std::fclose(file);
        }
    }
#ifdef KORVO_TEST_REFUSE_ATTACH
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
#else
    return TRUE;
#endif
}

extern "C" DLLEXPORT int TestModuleAnswer() { return 42; }
