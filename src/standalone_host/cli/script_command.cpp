#include "standalone_host/cli/script_command.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "standalone_host/cli/commands.h"
#include "standalone_host/cli/dialog_answers.h"
#include "standalone_host/core/scripting.h"
#include "standalone_host/platform/utf8.h"

namespace KorvoCli {
namespace {

using KorvoHost::FromUtf8;
using KorvoHost::ToUtf8;

struct ScriptOptions {
    std::string scene;
    std::string file;
    std::string text;
    bool quiet = false;
    AnswerOptions answers;  // for the dialogs of korvo.generate()
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return kExitFailure;
}

bool ReadScript(const std::string& file, std::wstring& text, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file + ": cannot read the script file";
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string utf8 = bytes.str();
    if (utf8.rfind("\xEF\xBB\xBF", 0) == 0) utf8.erase(0, 3);
    text = FromUtf8(utf8);
    return true;
}

int RunScript(const ScriptOptions& options, const KorvoHost::HostOptions& hostOptions) {
    std::wstring text;
    std::string error;
    const bool fromFile = options.text.empty();
    if (fromFile && !ReadScript(options.file, text, error)) return Fail(error);
    if (!fromFile) text = FromUtf8(options.text);

    KorvoHost::HostApp app(hostOptions);
    const WorkingFolderTurn turn;
    if (!app.LoadPlugin(&error)) return Fail(error);
    if (!app.OpenScene(options.scene, &error)) return Fail(error);

    // As a script console shows it: the value of every statement on a line of its own.
    const auto echo = [&](const KorvoHost::Value& value) {
        if (options.quiet) return;
        std::fputs((ToUtf8(value.Describe()) + "\n").c_str(), stdout);
        std::fflush(stdout);
    };
    DialogAnswers answers;
    if (const int refused = answers.Prepare(app, options.answers, DialogAnswers::Missing::Close))
        return refused;
    KorvoHost::ScriptResult result;
    {
        const DialogAnswers::Scope scope(answers);
        result = app.Core().Scripting().Run(text, /*quiet=*/true, echo);
    }
    // What the script's requests came to, as korvo generate tells it; the exit code is the
    // script's own.
    if (answers.Asked()) {
        (void)answers.Outcome();
        answers.ListResults();
    }
    if (!result.ok) {
        const std::string where = fromFile ? options.file : std::string("-e");
        return Fail(where + ": " + ToUtf8(result.error.Describe()));
    }
    return kExitSuccess;
}

}  // namespace

SubcommandRunner AddScriptCommand(CLI::App& cli) {
    auto options = std::make_shared<ScriptOptions>();
    CLI::App* script =
        cli.add_subcommand("script",
                           "Run a script against a scene through the plug-in: korvo.get_cams(), "
                           "korvo.fix_cam $Cam01, print, format, …");
    AddFileArgument(*script, "SCENE", options->scene, "Scene file (.json)");
    CLI::Option* file =
        script->add_option("FILE", options->file, "Script file to run")->option_text("FILE");
    CLI::Option* text =
        script->add_option("-e,--eval", options->text, "Script text to run")->option_text("TEXT");
    file->excludes(text);
    text->excludes(file);
    script->add_flag("-q,--quiet", options->quiet,
                     "Print only what the script prints, not the value of every statement");
    AddAnswerOptions(*script, options->answers);
    script->callback([script, file, text] {
        if (file->count() == 0 && text->count() == 0) throw CLI::RequiredError("FILE or -e TEXT");
    });
    script->footer(
        "Examples:\n"
        "  korvo script examples/room.json examples/room_panoramas.korvo\n"
        "  korvo script examples/room.json -e 'korvo.num_helpers()'\n"
        "The dialogs of korvo.generate() take the answers of -o, --camera, --all-cameras,\n"
        "--save/--no-save as korvo generate does; what is not given is asked on a terminal,\n"
        "or closes the dialog without one.\n");

    return [script, options](const KorvoHost::HostOptions& hostOptions) -> std::optional<int> {
        if (!script->parsed()) return std::nullopt;
        return RunScript(*options, hostOptions);
    };
}

}  // namespace KorvoCli
