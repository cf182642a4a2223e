// korvo generate: presses Generate on the plug-in's utility panel and answers its dialogs.
#pragma once

#include <string>

#include "standalone_host/cli/dialog_answers.h"
#include "standalone_host/core/host_app.h"

namespace KorvoCli {

struct GenerateOptions {
    std::string scene;
    AnswerOptions answers;
    bool view = false;  // --view: korvo view on the first panorama once the run succeeded
};

// Runs the request; answers the command's exit code.
int Generate(const KorvoHost::HostOptions& host, const GenerateOptions& options);

}  // namespace KorvoCli
