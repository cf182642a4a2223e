#include "standalone_host/cli/generate_command.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "standalone_host/cli/commands.h"
#include "standalone_host/cli/view_command.h"
#include "standalone_host/windows/user_actions.h"

namespace KorvoCli {
namespace {

constexpr int kGenerateButton = 1001;

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return kExitFailure;
}

// The run itself; `panoramas` gets the panoramas it wrote.
int RunGenerate(const KorvoHost::HostOptions& hostOptions, const GenerateOptions& options,
                std::vector<std::filesystem::path>& panoramas) {
    KorvoHost::HostApp app(hostOptions);
    std::string error;
    if (!app.LoadPlugin(&error)) return Fail(error);
    if (!app.OpenScene(options.scene, &error)) return Fail(error);

    DialogAnswers answers;
    if (const int refused = answers.Prepare(app, options.answers, DialogAnswers::Missing::Refuse))
        return refused;
    {
        const DialogAnswers::Scope scope(answers);
        const HWND page = app.OpenUtility(L"KorvoPlugin", &error);
        if (!page) return Fail(error);
        KorvoHost::PressButton(page, kGenerateButton);
        app.CloseUtility();
    }
    const int code = answers.Outcome();
    panoramas = answers.ListResults();
    return code;
}

}  // namespace

int Generate(const KorvoHost::HostOptions& hostOptions, const GenerateOptions& options) {
    // The scene and the plug-in are closed before the viewer starts.
    std::vector<std::filesystem::path> panoramas;
    const int code = RunGenerate(hostOptions, options, panoramas);
    if (!options.view || code != kExitSuccess) return code;
    if (panoramas.empty()) {
        std::fprintf(stderr, "korvo: no panorama was written, so there is nothing to view\n");
        return code;
    }
    std::fflush(stdout);
    return ViewPanorama({.panorama = panoramas.front().string()});
}

}  // namespace KorvoCli
