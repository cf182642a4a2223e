// korvo: the standalone host's command line. It loads the plug-in and a scene file the way the host
// application does, and lets a person use the plug-in without the host application.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>

#include "standalone_host/cli/commands.h"
#include "standalone_host/platform/host_environment.h"

int main(int argc, char** argv) {
    // Every face of a run takes a few buffers of about 10 MB (its pixels, its codes, its file's
    // bands) and gives them back at its end, for the next face to take again.
    KorvoHost::KeepLargeBuffersOnTheHeap();
    try {
        return KorvoCli::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvo: internal error: %s\n", e.what());
        return KorvoCli::kExitFailure;
    }
}
