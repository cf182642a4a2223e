#include "standalone_host/cli/generate_command.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "standalone_host/cli/commands.h"
#include "standalone_host/cli/view_command.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/windows/user_actions.h"

namespace KorvoCli {
namespace {

constexpr int kGenerateButton = 1001;

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return kExitFailure;
}

// Presses Generate with the given answers while they are the host's front end.
void PressGenerate(KorvoHost::HostApp& app, DialogAnswers& answers, std::string* error) {
    const DialogAnswers::Scope scope(answers);
    const HWND page = app.OpenUtility(L"KorvoPlugin", error);
    if (!page) return;
    KorvoHost::PressButton(page, kGenerateButton);
    app.CloseUtility();
}

// The run itself; `panoramas` gets the panoramas it wrote.
int RunGenerate(const KorvoHost::HostOptions& hostOptions, const GenerateOptions& options,
                std::vector<std::filesystem::path>& panoramas) {
    KorvoHost::HostApp app(hostOptions);
    const WorkingFolderTurn turn;
    std::string error;
    if (!app.LoadPlugin(&error)) return Fail(error);
    if (!app.OpenScene(options.scene, &error)) return Fail(error);

    DialogAnswers answers;
    if (const int refused = answers.Prepare(app, options.answers, DialogAnswers::Missing::Refuse))
        return refused;
    PressGenerate(app, answers, &error);
    if (!error.empty()) return Fail(error);
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

int CheckGenerate(KorvoHost::HostApp& app, const AnswerOptions& options) {
    DialogAnswers answers;
    answers.CheckOnly();
    if (const int refused = answers.Prepare(app, options, DialogAnswers::Missing::Refuse))
        return refused;
    // The plug-in's checks, as its script interface offers them: a scene that passes is not
    // counted as a request. One that fails is pressed as the user would, for the plug-in's own
    // message of the refusal; its save prompt is cancelled all the same.
    bool passed = false;
    const auto lastValue = [&](const KorvoHost::Value& value) {
        passed = value.Boolean() && *value.Boolean();
    };
    app.Core().Scripting().Run(L"korvo.get_cams()\nkorvo.validate_worfklow true", /*quiet=*/true,
                               lastValue);
    if (passed) return kExitSuccess;
    std::string error;
    PressGenerate(app, answers, &error);
    if (!error.empty()) return Fail(error);
    return answers.Outcome();
}

}  // namespace KorvoCli
