// korvo: the standalone host's command line. It loads the plug-in and a scene file the way the host
// application does, and lets a person use the plug-in without the host application.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>

#include "standalone_host/cli/commands.h"

int main(int argc, char** argv) {
    try {
        return KorvoCli::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvo: internal error: %s\n", e.what());
        return KorvoCli::kExitFailure;
    }
}
