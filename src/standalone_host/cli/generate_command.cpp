#include "standalone_host/cli/generate_command.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "host/interface.h"
#include "standalone_host/cli/commands.h"
#include "standalone_host/cli/scene_summary.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/windows/scripted_front_end.h"
#include "standalone_host/windows/terminal_front_end.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoCli {
namespace {

namespace fs = std::filesystem;
using KorvoHost::FromUtf8;
using KorvoHost::ToUtf8;

// The plug-in's dialogs and controls, as a user finds them on screen.
constexpr int kGenerateButton = 1001;
constexpr int kCameraDialog = 102;
constexpr int kCameraList = 1024;
constexpr int kSavePrompt = 110;
constexpr int kSaveButton = 1028;
constexpr int kContinueButton = 1029;
constexpr int kContactErrorDialog = 112;
constexpr int kCompletionDialog = 114;
constexpr int kPlainErrorDialog = 118;
constexpr int kErrorText = 1038;
constexpr int kExitCancelled = 130;

constexpr const char* kLogFileName = "korvo_log.txt";

struct RendererName {
    const char* name;
    KorvoHost::RendererType type;
};
constexpr RendererName kRenderers[] = {
    {"scanline", KorvoHost::RendererType::Scanline},
    {"mental_ray", KorvoHost::RendererType::MentalRay},
    {"vray", KorvoHost::RendererType::VRay},
    {"vray_rt", KorvoHost::RendererType::VRayRT},
    {"arnold", KorvoHost::RendererType::Arnold},
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return code;
}

// Passes everything to the front end that answers, and notes the outcome dialogs on the way.
class Observer final : public KorvoHost::FrontEnd {
  public:
    explicit Observer(FrontEnd& inner) : inner_(inner) {}

    Answer AnswerModal(HWND dialog) override { return inner_.AnswerModal(dialog); }
    void WindowShown(HWND window) override {
        const int id = KorvoHost::DialogId(window);
        if (id == kCompletionDialog) completed_ = true;
        if (id == kContactErrorDialog || id == kPlainErrorDialog)
            errors_.push_back(KorvoHost::WindowText(KorvoHost::FindControl(window, kErrorText)));
        inner_.WindowShown(window);
    }
    void WindowDestroyed(HWND window) override { inner_.WindowDestroyed(window); }
    void WindowChanged(HWND window) override { inner_.WindowChanged(window); }
    void PollInput() override { inner_.PollInput(); }
    std::optional<std::wstring> BrowseForFolder(std::wstring_view title,
                                                std::wstring_view initialFolder) override {
        return inner_.BrowseForFolder(title, initialFolder);
    }
    void Open(std::wstring_view verb, std::wstring_view target) override {
        inner_.Open(verb, target);
    }
    void PromptChanged(std::wstring_view text) override { inner_.PromptChanged(text); }
    void RenderStarted(std::wstring_view camera, int width, int height) override {
        inner_.RenderStarted(camera, width, height);
    }

    bool Completed() const { return completed_; }
    // The messages of the error dialogs shown, in order.
    const std::vector<std::wstring>& Errors() const { return errors_; }

  private:
    FrontEnd& inner_;
    bool completed_ = false;
    std::vector<std::wstring> errors_;
};

// Installs a front end for the request and restores none at the end.
class FrontEndScope {
  public:
    explicit FrontEndScope(KorvoHost::FrontEnd* frontEnd) { KorvoHost::SetFrontEnd(frontEnd); }
    ~FrontEndScope() { KorvoHost::SetFrontEnd(nullptr); }
    FrontEndScope(const FrontEndScope&) = delete;
    FrontEndScope& operator=(const FrontEndScope&) = delete;
};

std::set<fs::path> FilesIn(const fs::path& folder) {
    std::set<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        files.insert(it->path().filename());
    return files;
}

std::string CameraList(const SceneSummary& summary) {
    std::string list;
    for (const CameraSummary& camera : summary.cameras)
        list += (list.empty() ? "" : ", ") + ToUtf8(camera.name);
    return list.empty() ? "(none)" : list;
}

// The first answer the plug-in will ask for that the options do not give, or empty.
std::string MissingAnswer(const GenerateOptions& options, const SceneSummary& summary) {
    // A scene without cameras is refused before anything is asked.
    if (summary.cameras.empty()) return {};
    if (!options.save) return "the save prompt needs an answer: pass --save or --no-save";
    if (options.output.empty()) return "the output folder needs an answer: pass -o DIR";
    if (summary.cameras.size() > 1 && !options.allCameras && options.cameras.empty())
        return "the camera choice needs an answer: pass --camera NAME (repeatable) or "
               "--all-cameras";
    return {};
}

}  // namespace

const std::vector<std::string>& RendererNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const RendererName& r : kRenderers) list.push_back(r.name);
        return list;
    }();
    return names;
}

int Generate(const KorvoHost::HostOptions& hostOptions, const GenerateOptions& options) {
    KorvoHost::HostApp app(hostOptions);
    std::string error;
    if (!app.LoadPlugin(&error)) return Fail(kExitFailure, error);
    if (!app.OpenScene(options.scene, &error)) return Fail(kExitFailure, error);

    // The user switches renderer in the host before pressing Generate.
    if (!options.renderer.empty()) {
        const auto* it =
            std::find_if(std::begin(kRenderers), std::end(kRenderers),
                         [&](const RendererName& r) { return r.name == options.renderer; });
        if (it == std::end(kRenderers))
            return Fail(kExitUsage, "unknown renderer " + options.renderer);
        app.CurrentScene()->SetCurrentRenderer(KorvoHost::RendererClassId(it->type));
    }

    const SceneSummary summary = Summarize(app.Core());
    for (const std::string& name : options.cameras) {
        const bool known =
            std::any_of(summary.cameras.begin(), summary.cameras.end(),
                        [&](const CameraSummary& c) { return c.name == FromUtf8(name); });
        if (!known)
            return Fail(kExitUsage, "the scene has no camera " + name +
                                        "; its cameras: " + CameraList(summary));
    }

    // The answers of the command line.
    KorvoHost::ScriptedFrontEnd given;
    if (options.save) given.Press(kSavePrompt, *options.save ? kSaveButton : kContinueButton);
    fs::path output;
    if (!options.output.empty()) {
        std::error_code ignored;
        output = fs::absolute(options.output, ignored).lexically_normal();
        if (output.has_filename() == false) output = output.parent_path();
        given.Folder(KorvoHost::FromPath(output));
    }
    if (options.allCameras) {
        given.CheckAllAndPress(kCameraDialog, kCameraList, IDOK);
    } else if (!options.cameras.empty()) {
        std::vector<std::wstring> names;
        for (const std::string& name : options.cameras) names.push_back(FromUtf8(name));
        given.CheckAndPress(kCameraDialog, kCameraList, names, IDOK);
    }

    // What is not given is asked on the terminal, or stops the command before anything is
    // written.
    std::unique_ptr<KorvoHost::FrontEnd> terminal;
    const std::string missing = MissingAnswer(options, summary);
    if (!missing.empty()) {
        if (isatty(STDIN_FILENO)) terminal = KorvoHost::MakeTerminalFrontEnd(given);
        if (!terminal) return Fail(kExitUsage, missing);
    }
    if (!terminal) given.Close(kCompletionDialog);

    // Like the browser's new-folder button: the output folder may be made on the way.
    if (!output.empty()) {
        std::error_code made;
        fs::create_directories(output, made);
        if (made)
            return Fail(kExitFailure, "cannot create " + output.string() + ": " + made.message());
    }
    const std::set<fs::path> before = output.empty() ? std::set<fs::path>() : FilesIn(output);

    Observer observer(terminal ? *terminal : static_cast<KorvoHost::FrontEnd&>(given));
    int code = kExitSuccess;
    {
        const FrontEndScope scope(&observer);
        const HWND page = app.OpenUtility(L"KorvoPlugin", &error);
        if (!page) return Fail(kExitFailure, error);
        KorvoHost::PressButton(page, kGenerateButton);
        app.CloseUtility();
    }

    if (!observer.Errors().empty()) {
        code = Fail(kExitFailure, ToUtf8(observer.Errors().back()));
    } else if (!observer.Completed()) {
        if (!terminal && (!given.Unanswered().empty() || given.BrowserUnanswered()))
            return Fail(kExitUsage, "the plug-in asked a question the options do not answer");
        std::fprintf(stderr, "korvo: cancelled\n");
        code = kExitCancelled;
    }
    // Where the results went, when the request got as far as the output folder.
    if (!output.empty()) {
        for (const fs::path& name : FilesIn(output)) {
            if (before.count(name) || name.extension() != ".jpg") continue;
            std::printf("%s\n", (output / name).string().c_str());
        }
        if (fs::exists(output / kLogFileName))
            std::printf("Log: %s\n", (output / kLogFileName).string().c_str());
    }
    return code;
}

}  // namespace KorvoCli
