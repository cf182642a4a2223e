#include "standalone_host/cli/dialog_answers.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <system_error>

#include "host/interface.h"
#include "standalone_host/cli/commands.h"
#include "standalone_host/cli/scene_summary.h"
#include "standalone_host/platform/placed_files.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/windows/terminal_front_end.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoCli {

namespace fs = std::filesystem;
using KorvoHost::FromUtf8;
using KorvoHost::ToUtf8;

namespace {

// The plug-in's dialogs and controls, as a user finds them on screen.
constexpr int kCameraDialog = 102;
constexpr int kCameraList = 1024;
constexpr int kProgressWindow = 107;
constexpr int kCancelRenderButton = 1025;
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

// A request to stop (SIGTERM: a batch system cancelling the task, the machine shutting down)
// while the dialogs are answered: the run is cancelled as its Cancel button would, so that it
// ends with its working folder cleared and no half-written file in the output folder.
volatile sig_atomic_t gStopRequested = 0;

void OnStopRequest(int) { gStopRequested = 1; }

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return code;
}

std::string CameraList(const SceneSummary& summary) {
    std::string list;
    for (const CameraSummary& camera : summary.cameras)
        list += (list.empty() ? "" : ", ") + ToUtf8(camera.name);
    return list.empty() ? "(none)" : list;
}

// The first answer the plug-in will ask for that the options do not give, or empty.
std::string MissingAnswer(const AnswerOptions& options, const SceneSummary& summary) {
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

// Passes everything to the front end that answers, and notes on the way what the requests came
// to: the outcome dialogs and the output folder.
class RequestObserver final : public KorvoHost::FrontEnd {
  public:
    explicit RequestObserver(FrontEnd& inner) : inner_(inner) {}

    Answer AnswerModal(HWND dialog) override {
        asked_ = true;
        if (KorvoHost::DialogId(dialog) == kSavePrompt) savePrompt_ = true;
        return inner_.AnswerModal(dialog);
    }
    void WindowShown(HWND window) override {
        const int id = KorvoHost::DialogId(window);
        if (id == kProgressWindow) progress_ = window;
        if (id == kCompletionDialog) completed_ = true;
        if (id == kContactErrorDialog || id == kPlainErrorDialog) {
            asked_ = true;
            errors_.push_back(KorvoHost::WindowText(KorvoHost::FindControl(window, kErrorText)));
        }
        inner_.WindowShown(window);
    }
    void WindowDestroyed(HWND window) override {
        if (window == progress_) progress_ = nullptr;
        inner_.WindowDestroyed(window);
    }
    void WindowChanged(HWND window) override { inner_.WindowChanged(window); }
    void PollInput() override {
        inner_.PollInput();
        if (gStopRequested && progress_ && !stopPressed_) {
            stopPressed_ = true;
            KorvoHost::PressButton(progress_, kCancelRenderButton);
        }
    }
    std::optional<std::wstring> BrowseForFolder(std::wstring_view title,
                                                std::wstring_view initialFolder) override {
        asked_ = true;
        // The browser asks again after refusing a typed name: that refusal (error 5) was shown
        // while the browser stayed open, and is no outcome of the request.
        errors_.clear();
        completed_ = false;
        std::optional<std::wstring> answer = inner_.BrowseForFolder(title, initialFolder);
        if (answer) folder_ = KorvoHost::ToPath(*answer);
        return answer;
    }
    void Open(std::wstring_view verb, std::wstring_view target) override {
        inner_.Open(verb, target);
    }
    void PromptChanged(std::wstring_view text) override { inner_.PromptChanged(text); }
    void RenderStarted(std::wstring_view camera, int width, int height) override {
        inner_.RenderStarted(camera, width, height);
    }

    bool Asked() const { return asked_; }
    bool Completed() const { return completed_; }
    // Whether the request got past its checks to the save prompt.
    bool ReachedSavePrompt() const { return savePrompt_; }
    // The messages of the error dialogs shown since the folder browser last asked, in order.
    const std::vector<std::wstring>& Errors() const { return errors_; }
    // The folder the browser was last answered with (typed or given).
    const fs::path& Folder() const { return folder_; }

  private:
    FrontEnd& inner_;
    bool asked_ = false;
    bool completed_ = false;
    bool savePrompt_ = false;
    HWND progress_ = nullptr;
    bool stopPressed_ = false;
    std::vector<std::wstring> errors_;
    fs::path folder_;
};

void AddAnswerOptions(CLI::App& command, AnswerOptions& options) {
    command
        .add_option("-o,--output", options.output,
                    "Output folder (the folder browser's answer; made when missing)")
        ->option_text("DIR");
    CLI::Option* cameraOption =
        command
            .add_option("--camera", options.cameras,
                        "A camera to render (repeatable; the camera dialog's check boxes)")
            ->option_text("NAME")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command.add_flag("--all-cameras", options.allCameras, "Render every camera")
        ->excludes(cameraOption);
    CLI::Option* save = command.add_flag_callback(
        "--save", [&options] { options.save = true; },
        "Save the scene file first (the save prompt's Save)");
    CLI::Option* noSave = command.add_flag_callback(
        "--no-save", [&options] { options.save = false; },
        "Go on without saving (the save prompt's Continue without saving)");
    save->excludes(noSave);
    std::string rendererList;
    for (const std::string& name : RendererNames())
        rendererList += (rendererList.empty() ? "" : "|") + name;
    command
        .add_option("--renderer", options.renderer,
                    "Make this renderer current first (default: the scene's)")
        ->option_text(rendererList)
        ->check(CLI::IsMember(RendererNames()));
}

const std::vector<std::string>& RendererNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const RendererName& r : kRenderers) list.push_back(r.name);
        return list;
    }();
    return names;
}

DialogAnswers::DialogAnswers() = default;

DialogAnswers::~DialogAnswers() {
    observer_.reset();
    terminal_.reset();
    if (noInput_ >= 0) close(noInput_);
}

int DialogAnswers::Prepare(KorvoHost::HostApp& app, const AnswerOptions& options, Missing missing) {
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
    if (checkOnly_)
        given_.Press(kSavePrompt, IDCANCEL);
    else if (options.save)
        given_.Press(kSavePrompt, *options.save ? kSaveButton : kContinueButton);
    fs::path output;
    if (!options.output.empty()) {
        std::error_code ignored;
        output = fs::absolute(options.output, ignored).lexically_normal();
        if (!output.has_filename()) output = output.parent_path();
        given_.Folder(KorvoHost::FromPath(output));
    }
    if (options.allCameras) {
        given_.CheckAllAndPress(kCameraDialog, kCameraList, IDOK);
    } else if (!options.cameras.empty()) {
        std::vector<std::wstring> names;
        for (const std::string& name : options.cameras) names.push_back(FromUtf8(name));
        given_.CheckAndPress(kCameraDialog, kCameraList, names, IDOK);
    }

    // What is not given is asked on the terminal, or stops the command before anything is
    // written. With every answer given, a terminal still shows the progress bar and takes
    // Ctrl-C, but asks nothing: the completion dialog is closed as a script would close it.
    const std::string unanswered = MissingAnswer(options, summary);
    asks_ = !unanswered.empty() && isatty(STDIN_FILENO);
    if (asks_) {
        terminal_ = KorvoHost::MakeTerminalFrontEnd(given_);
    } else {
        if (!unanswered.empty() && missing == Missing::Refuse) return Fail(kExitUsage, unanswered);
        given_.Close(kCompletionDialog);
        if (isatty(STDERR_FILENO)) {
            noInput_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
            KorvoHost::TerminalOptions display;
            display.input = noInput_;
            if (noInput_ >= 0) terminal_ = KorvoHost::MakeTerminalFrontEnd(given_, display);
        }
    }

    // Like the browser's new-folder button: the output folder may be made on the way.
    if (!output.empty()) {
        std::error_code made;
        fs::create_directories(output, made);
        if (made)
            return Fail(kExitFailure, "cannot create " + output.string() + ": " + made.message());
    }
    observer_ = std::make_unique<RequestObserver>(
        terminal_ ? *terminal_ : static_cast<KorvoHost::FrontEnd&>(given_));
    return kExitSuccess;
}

DialogAnswers::Scope::Scope(DialogAnswers& answers) {
    KorvoHost::SetFrontEnd(answers.observer_.get());
    struct sigaction action {};
    action.sa_handler = OnStopRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previousStop_);
}

DialogAnswers::Scope::~Scope() {
    sigaction(SIGTERM, &previousStop_, nullptr);
    KorvoHost::SetFrontEnd(nullptr);
}

bool DialogAnswers::Asked() const { return observer_ && observer_->Asked(); }

int DialogAnswers::Outcome() const {
    if (!observer_) return kExitFailure;
    if (!observer_->Errors().empty()) return Fail(kExitFailure, ToUtf8(observer_->Errors().back()));
    if (observer_->Completed()) return kExitSuccess;
    if (checkOnly_ && observer_->ReachedSavePrompt()) return kExitSuccess;
    if (!asks_ && (!given_.Unanswered().empty() || given_.BrowserUnanswered()))
        return Fail(kExitUsage, "the plug-in asked a question the options do not answer");
    return Fail(kExitCancelled, "cancelled");
}

std::vector<fs::path> DialogAnswers::ListResults() const {
    std::vector<fs::path> panoramas;
    if (!observer_) return panoramas;
    // Where the results went, when a request got as far as the output folder.
    const fs::path& folder = observer_->Folder();
    if (folder.empty()) return panoramas;
    // The panoramas this process put there: other processes may add theirs to the same folder
    // meanwhile (farm tasks, a second korvo).
    fs::path normal = folder.lexically_normal();
    if (!normal.has_filename()) normal = normal.parent_path();
    for (const fs::path& file : KorvoHost::PlacedFiles()) {
        if (file.parent_path() != normal || file.extension() != ".jpg") continue;
        std::error_code missing;
        if (!fs::is_regular_file(file, missing)) continue;
        panoramas.push_back(file);
        std::printf("%s\n", file.string().c_str());
    }
    if (fs::exists(folder / kLogFileName))
        std::printf("Log: %s\n", (folder / kLogFileName).string().c_str());
    return panoramas;
}

}  // namespace KorvoCli
