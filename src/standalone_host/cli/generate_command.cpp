#include "standalone_host/cli/generate_command.h"

#include <cstdio>

#include "standalone_host/cli/commands.h"
#include "standalone_host/windows/user_actions.h"

namespace KorvoCli {
namespace {

constexpr int kGenerateButton = 1001;

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return kExitFailure;
}

}  // namespace

int Generate(const KorvoHost::HostOptions& hostOptions, const GenerateOptions& options) {
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
    answers.ListResults();
    return code;
}

}  // namespace KorvoCli
