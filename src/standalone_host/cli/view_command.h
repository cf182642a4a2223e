// korvo view: a local viewer page for a panorama, in the desktop's browser.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "standalone_host/cli/script_command.h"

namespace KorvoCli {

struct ViewOptions {
    std::string panorama;
    int port = 0;  // 0: any free port
    bool noBrowser = false;
};

// Serves the viewer for the panorama until Ctrl-C; answers the command's exit code.
int ViewPanorama(const ViewOptions& options);

// Adds "view" to the command line.
SubcommandRunner AddViewCommand(CLI::App& cli);

}  // namespace KorvoCli
