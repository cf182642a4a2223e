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

// Checks a request against the scene open in app as Generate would, and writes nothing but the
// output folder: the options (cameras named, renderer, answers given), then the plug-in's own
// checks (a camera in the scene, a renderer it takes). Answers 0, or the exit code Generate would
// give with its message on stderr.
int CheckGenerate(KorvoHost::HostApp& app, const AnswerOptions& options);

}  // namespace KorvoCli
