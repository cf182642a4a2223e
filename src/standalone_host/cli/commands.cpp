#include "standalone_host/cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/interface.h"
#include "standalone_host/cli/convert_command.h"
#include "standalone_host/cli/farm_command.h"
#include "standalone_host/cli/generate_command.h"
#include "standalone_host/cli/scene_summary.h"
#include "standalone_host/cli/script_command.h"
#include "standalone_host/cli/view_command.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/windows/user_actions.h"

namespace KorvoCli {
namespace {

namespace fs = std::filesystem;
using KorvoHost::ToUtf8;

struct GlobalOptions {
    std::string plugin;
    std::string registry;
    std::string tempDir;
};

KorvoHost::HostOptions HostOptionsFrom(const GlobalOptions& global) {
    KorvoHost::HostOptions options;
    options.pluginFile = global.plugin;
    options.registryFile = global.registry;
    options.tempDirectory = global.tempDir;
    return options;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return kExitFailure;
}

// The version label of the plug-in's utility panel, as a user sees it when opening the utility.
std::wstring PanelVersionLabel(KorvoHost::HostApp& app, std::string* error) {
    const HWND page = app.OpenUtility(L"KorvoPlugin", error);
    if (!page) return {};
    constexpr int kVersionLabel = 1031;
    std::wstring label = KorvoHost::WindowText(KorvoHost::FindControl(page, kVersionLabel));
    app.CloseUtility();
    return label;
}

int Info(const GlobalOptions& global, const std::string& sceneFile) {
    KorvoHost::HostApp app(HostOptionsFrom(global));
    std::string error;
    if (!app.LoadPlugin(&error)) return Fail(error);
    if (!app.OpenScene(sceneFile, &error)) return Fail(error);

    const SceneSummary summary = Summarize(*GetCOREInterface());
    std::printf("Scene      %s\n", sceneFile.c_str());
    std::printf("Renderer   %s (%s)\n", ToUtf8(summary.rendererName).c_str(),
                summary.rendererKind.c_str());
    std::printf("           %s\n", summary.backEnd.c_str());
    std::printf("Cameras    %zu\n", summary.cameras.size());
    for (const CameraSummary& camera : summary.cameras)
        std::printf("  %-24s %s\n", ToUtf8(camera.name).c_str(), camera.description.c_str());
    std::printf("Helpers    %zu\n", summary.helpers.size());
    for (const std::wstring& helper : summary.helpers)
        std::printf("  %s\n", ToUtf8(helper).c_str());

    const std::wstring label = PanelVersionLabel(app, &error);
    if (!error.empty()) return Fail(error);
    std::printf("Plug-in    %s, %s\n", ToUtf8(app.Plugin()->Description()).c_str(),
                ToUtf8(label).c_str());
    return kExitSuccess;
}

}  // namespace

WorkingFolderTurn::WorkingFolderTurn()
    : lock_([](const fs::path& folder) {
          std::fprintf(stderr,
                       "korvo: another korvo run is working in %s; waiting for it to finish\n",
                       folder.c_str());
          std::fflush(stderr);
      }) {}

CLI::Option* AddFileArgument(CLI::App& command, const std::string& name, std::string& path,
                             const std::string& description) {
    return command.add_option(name, path, description)->required()->option_text(name);
}

int Run(int argc, char** argv) {
    CLI::App cli{
        "korvo turns a 3D scene into stereoscopic 360° panoramas: for every camera you pick, one "
        "JPEG stereo cube map.\nIt loads the Korvo plug-in and a scene file (JSON, see "
        "docs/scene-format.md) the way the host application would.",
        "korvo"};
    cli.footer(
        "Examples:\n"
        "  korvo info examples/room.json       what the scene holds and which renderer it uses\n"
        "  korvo generate examples/room.json -o out --all-cameras --no-save\n"
        "                                      one panorama per camera of the room, in out/\n"
        "  korvo convert out/room_Cam_Free.jpg -o room_360.jpg\n"
        "                                      as stereo equirectangular, left eye on top\n"
        "  korvo view out/room_Cam_Free.jpg    look around in it in the browser\n"
        "  korvo farm submit /shared/room.json -o /shared/out --all-cameras\n"
        "                                      the room's cameras as one Slurm job array\n"
        "\nRun 'korvo COMMAND --help' for the options of a command.\n");
    cli.require_subcommand(1);
    cli.set_version_flag("--version", "korvo " KORVO_VERSION);

    GlobalOptions global;
    cli.add_option("--plugin", global.plugin,
                   "Plug-in library to load (default: the installed one)")
        ->option_text("FILE");
    cli.add_option("--registry", global.registry,
                   "Registry file holding the plug-in's settings (default: the installed one)")
        ->option_text("FILE");
    cli.add_option("--temp-dir", global.tempDir,
                   "The host's temporary folder, where runs keep their working files")
        ->option_text("DIR");

    std::string sceneFile;
    CLI::App* info =
        cli.add_subcommand("info", "Show a scene's cameras, its renderer and the plug-in version");
    AddFileArgument(*info, "SCENE", sceneFile, "Scene file (.json)");
    const SubcommandRunner runScript = AddScriptCommand(cli);
    const SubcommandRunner runConvert = AddConvertCommand(cli);
    const SubcommandRunner runView = AddViewCommand(cli);

    GenerateOptions generate;
    CLI::App* generateCommand = cli.add_subcommand(
        "generate",
        "Press Generate on the plug-in's panel: one panorama per picked camera, written into the "
        "output folder with the run's log. Answers not given as options are asked on the "
        "terminal; without a terminal they are an error.");
    AddFileArgument(*generateCommand, "SCENE", generate.scene, "Scene file (.json)");
    AddAnswerOptions(*generateCommand, generate.answers);
    generateCommand->add_flag("--view", generate.view,
                              "When the run succeeds, look at the first panorama written in the "
                              "browser (korvo view; Ctrl-C stops it)");
    const bool separator = std::any_of(
        argv + 1, argv + argc, [](const char* arg) { return std::string_view(arg) == "--"; });
    const SubcommandRunner runFarm = AddFarmCommand(cli, separator);

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = cli.exit(e);
        return code == 0 ? kExitSuccess : kExitUsage;
    }
    if (info->parsed()) return Info(global, sceneFile);
    if (auto code = runScript(HostOptionsFrom(global))) return *code;
    if (auto code = runConvert(HostOptionsFrom(global))) return *code;
    if (auto code = runView(HostOptionsFrom(global))) return *code;
    if (generateCommand->parsed()) return Generate(HostOptionsFrom(global), generate);
    if (auto code = runFarm(HostOptionsFrom(global))) return *code;
    return kExitUsage;
}

}  // namespace KorvoCli
