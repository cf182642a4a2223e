// korvo generate: presses Generate on the plug-in's utility panel and answers its dialogs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "standalone_host/core/host_app.h"

namespace KorvoCli {

struct GenerateOptions {
    std::string scene;
    std::string output;                // -o: the folder the browser returns
    std::vector<std::string> cameras;  // --camera: the boxes to check
    bool allCameras = false;
    std::optional<bool> save;  // --save / --no-save: the save prompt's answer
    std::string renderer;      // --renderer: made current before Generate; empty: the scene's
};

// The renderer names --renderer takes.
const std::vector<std::string>& RendererNames();

// Runs the request; answers the command's exit code.
int Generate(const KorvoHost::HostOptions& host, const GenerateOptions& options);

}  // namespace KorvoCli
