// The Generate road as a user walks it: the plug-in loaded from its file, its panel's Generate
// pressed, every dialog answered by the scripted front end; what the user sees, what the log and
// the analytics module get, and what is left on disk.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/interface.h"
#include "standalone_host/core/bitmaps.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/windows/scripted_front_end.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoHost::FromPath;
using KorvoHost::ScriptedFrontEnd;

// The plug-in's dialogs and controls.
constexpr int kPanel = 101, kCameraDialog = 102, kProgress = 107, kSavePrompt = 110, kContact = 112,
              kComplete = 114, kPlain = 118;
constexpr int kGenerate = 1001, kCameraList = 1024, kCancelRender = 1025, kSave = 1028,
              kContinue = 1029, kLink = 1033, kErrorText = 1038, kUpload = 1028;

// Analytics events.
constexpr int kAccepted = 0, kCancelled = 1, kErrorShown = 2, kCompleted = 3, kStarted = 7;

// Scenes without meshes render fast: every ray misses.
std::string CamerasScene(const std::vector<std::string>& cameras,
                         const std::string& renderer = "scanline",
                         const std::string& extraNodes = "") {
    std::string nodes;
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (!nodes.empty()) nodes += ",";
        nodes += R"({"name": ")" + cameras[i] + R"(", "transform": {"position": [)" +
                 std::to_string(i) + R"(, 0, 0], "rotation": [90, 0, 0]}, "camera": {}})";
    }
    if (!extraNodes.empty()) nodes += (nodes.empty() ? "" : ",") + extraNodes;
    return R"({"renderer": ")" + renderer + R"(", "nodes": [)" + nodes + "]}";
}

const std::string kStereoHelper =
    R"({"name": "%s", "helper": {"classId": ["0x778103A1", "0x3B985164"]}})";

std::string Helper(const std::string& name) {
    std::string text = kStereoHelper;
    text.replace(text.find("%s"), 2, name);
    return text;
}

// The scripted user, with a renderer that can be made to give way part-way through a run, as
// one out of memory would.
class FrontEndOfAFailingRenderer : public ScriptedFrontEnd {
  public:
    void RenderStarted(std::wstring_view camera, int width, int height) override {
        ScriptedFrontEnd::RenderStarted(camera, width, height);
        if (static_cast<int>(Frames().size()) == throwAtFrame)
            throw std::runtime_error("the renderer ran out of memory");
    }
    int throwAtFrame = 0;  // 1: the first frame; 0: none
};

class Workflow : public ::testing::Test {
  protected:
    Workflow() {
        // A fresh copy of the library per test: its process-wide state starts as at host start.
        const fs::path plugins = temp_.path() / "plugins";
        fs::create_directories(plugins);
        fs::copy_file(KORVO_PLUGIN_FILE, plugins / "KorvoPlugin.so");
        fs::copy_file(KORVO_ANALYTICS_MODULE, plugins / "Analytics.so");
        const fs::path registry = temp_.path() / "registry.json";
        std::ofstream(registry)
            << R"({"HKEY_LOCAL_MACHINE": {"Software\\Korvo\\3dsMax": {"version": "1.0", "cid": "c-1"}}})";
        hits_ = temp_.path() / "hits.jsonl";
        ::setenv("KORVO_ANALYTICS_LOG", hits_.c_str(), 1);
        KorvoHost::HostOptions options;
        options.pluginFile = plugins / "KorvoPlugin.so";
        options.registryFile = registry;
        options.tempDirectory = temp_.path() / "host";
        app_ = std::make_unique<KorvoHost::HostApp>(options);
        app_->Core().SetRenderSamples(1);
        std::string error;
        EXPECT_TRUE(app_->LoadPlugin(&error)) << error;
        output_ = temp_.path() / "out";
        fs::create_directories(output_);
        KorvoHost::SetFrontEnd(&ui_);
    }
    ~Workflow() override {
        KorvoHost::SetFrontEnd(nullptr);
        // Modeless dialogs the test left open.
        for (const HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
            if (KorvoHost::DialogId(window)) DestroyWindow(window);
        app_.reset();
    }

    void OpenScene(const std::string& json, const std::string& name = "room.json") {
        const fs::path file = temp_.path() / "scenes" / name;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << json;
        std::string error;
        ASSERT_TRUE(app_->OpenScene(file, &error)) << error;
    }

    // The user opens the utility and presses Generate.
    void Generate() {
        std::string error;
        page_ = app_->OpenUtility(L"KorvoPlugin", &error);
        ASSERT_TRUE(page_) << error;
        KorvoHost::PressButton(page_, kGenerate);
    }

    // The usual answers up to the run: continue without saving, the output folder.
    void ContinueInto(const fs::path& folder) {
        ui_.Press(kSavePrompt, kContinue);
        ui_.Folder(FromPath(folder));
    }

    std::vector<std::pair<int, std::string>> Hits() const {
        std::vector<std::pair<int, std::string>> hits;
        std::ifstream in(hits_);
        for (std::string line; std::getline(in, line);) {
            const auto hit = nlohmann::json::parse(line);
            EXPECT_EQ(hit["category"], 1);
            EXPECT_EQ(hit["id"], "c-1");
            EXPECT_EQ(hit["flag"], false);
            hits.emplace_back(hit["event"].get<int>(),
                              hit["detail"].is_null() ? "" : hit["detail"].get<std::string>());
        }
        return hits;
    }

    std::vector<std::string> LogLines(const fs::path& folder) const {
        std::ifstream in(folder / "korvo_log.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto colon = line.find(": ");
            lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
        }
        return lines;
    }

    // The message of the error dialog still open (they are modeless), or empty.
    std::wstring OpenErrorText(int dialogId) const {
        for (const HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
            if (KorvoHost::DialogId(window) == dialogId)
                return KorvoHost::WindowText(KorvoHost::FindControl(window, kErrorText));
        return {};
    }

    fs::path WorkFolder() const { return temp_.path() / "host" / "korvo_scratch"; }

    // The dialogs the user saw after the panel, in order.
    static std::vector<int> Dialogs(const ScriptedFrontEnd& ui) {
        std::vector<int> ids = ui.ShownIds();
        ids.erase(std::remove(ids.begin(), ids.end(), kPanel), ids.end());
        return ids;
    }

    KorvoTest::TempDir temp_;
    std::unique_ptr<KorvoHost::HostApp> app_;
    FrontEndOfAFailingRenderer ui_;
    fs::path output_;
    fs::path hits_;
    HWND page_ = nullptr;
};

// Runs that render and stitch whole panoramas.
using WorkflowSlow = Workflow;

using Hit = std::pair<int, std::string>;
using HitList = std::vector<Hit>;

TEST_F(Workflow, RefusedScenesShowTheirPlainMessageAndAskNothing) {
    struct Case {
        std::string scene;
        int code;
        const wchar_t* message;
    };
    const Case cases[] = {
        {CamerasScene({}), 2,
         L"This drawing doesn't have any cameras. You need at least one camera to start "
         L"rendering. (2)"},
        {CamerasScene({"Cam"}, "vray_rt"), 3,
         L"VRay RT is not supported. Please update the renderer to VRay Adv and try again. (3)"},
        {CamerasScene({"Cam"}, "vray", Helper("H1") + "," + Helper("H2")), 4,
         L"There are multiple VRaySterescopic helpers. Please update to ensure there is only 1 "
         L"helper and try again. (4)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        fs::remove(hits_);
        OpenScene(c.scene);
        Generate();
        EXPECT_EQ(OpenErrorText(kPlain), c.message);
        EXPECT_EQ(Hits(), (HitList{{kErrorShown, std::to_string(c.code)}}));
        for (const HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
            if (KorvoHost::DialogId(window) == kPlain) KorvoHost::PressButton(window, IDOK);
        EXPECT_EQ(OpenErrorText(kPlain), L"") << "OK closes the dialog";
    }
    EXPECT_TRUE(ui_.Unanswered().empty()) << "no dialog waited for an answer";
    EXPECT_TRUE(ui_.Browses().empty());
}

TEST_F(Workflow, OneHelperUnderVRayPassesTheChecks) {
    OpenScene(CamerasScene({"Cam"}, "vray", Helper("H1")));
    ui_.Close(kSavePrompt);
    Generate();
    EXPECT_EQ(Hits(), (HitList{{kAccepted, "V-Ray"}, {kCancelled, ""}}));
}

TEST_F(Workflow, TypedFolderThatDoesNotExistIsRefusedWhileTheBrowserStaysOpen) {
    OpenScene(CamerasScene({"Cam"}));
    ui_.Press(kSavePrompt, kContinue);
    ui_.Folder(FromPath(temp_.path() / "nowhere"));
    ui_.Folder(std::nullopt);
    Generate();
    ASSERT_EQ(ui_.Browses().size(), 2u) << "the browser asked again";
    EXPECT_EQ(ui_.Browses()[0].title, L"Select output directory");
    EXPECT_EQ(OpenErrorText(kPlain),
              L"The folder name entered does not exist. Please make a new folder or select an "
              L"existing one. (5)");
    EXPECT_EQ(Hits(),
              (HitList{{kAccepted, "Default Scanline"}, {kErrorShown, "5"}, {kCancelled, ""}}));
    EXPECT_FALSE(fs::exists(WorkFolder()));
}

TEST_F(Workflow, BrowserStartsInTheSceneFileFolder) {
    OpenScene(CamerasScene({"Cam"}));
    ui_.Press(kSavePrompt, kContinue);
    ui_.Folder(std::nullopt);
    Generate();
    ASSERT_EQ(ui_.Browses().size(), 1u);
    EXPECT_EQ(ui_.Browses()[0].initialFolder, FromPath(temp_.path() / "scenes"));
}

TEST_F(Workflow, WorkingFolderThatCannotBeMadeShowsTheContactDialog) {
    OpenScene(CamerasScene({"Cam"}));
    fs::create_directories(WorkFolder().parent_path());
    std::ofstream(WorkFolder()) << "a file where the folder should be";
    ContinueInto(output_);
    Generate();
    EXPECT_EQ(OpenErrorText(kContact),
              L"Oops. Looks like something went wrong. Hit the contact button below to tell us "
              L"what happened and we'll do our best to fix it.  (6)");
    const auto log = LogLines(output_);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Filename to output to: " + output_.string());
    EXPECT_EQ(log[1], "Unable to create working directory: " + WorkFolder().string());
    EXPECT_EQ(Hits(), (HitList{{kAccepted, "Default Scanline"}, {kErrorShown, "6"}}));

    // Contact Us opens the contact page; the dialog stays.
    for (const HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
        if (KorvoHost::DialogId(window) == kContact) KorvoHost::PressButton(window, kSave);
    ASSERT_EQ(ui_.Opens().size(), 1u);
    EXPECT_EQ(ui_.Opens()[0].verb, L"open");
    EXPECT_EQ(ui_.Opens()[0].target, L"https://korvo.app/contact-us/");
    EXPECT_NE(OpenErrorText(kContact), L"");
}

TEST_F(Workflow, CancelInThePromptsEndsSilently) {
    // The save prompt and the browser: nothing written anywhere.
    for (const bool inBrowser : {false, true}) {
        SCOPED_TRACE(inBrowser ? "browser" : "save prompt");
        fs::remove(hits_);
        OpenScene(CamerasScene({"Cam"}));
        if (inBrowser) {
            ui_.Press(kSavePrompt, kContinue);
            ui_.Folder(std::nullopt);
        } else {
            ui_.Close(kSavePrompt);
        }
        Generate();
        EXPECT_EQ(Hits(), (HitList{{kAccepted, "Default Scanline"}, {kCancelled, ""}}));
        EXPECT_FALSE(fs::exists(output_ / "korvo_log.txt"));
        EXPECT_FALSE(fs::exists(WorkFolder()));
        EXPECT_EQ(Dialogs(ui_), (std::vector<int>{kSavePrompt}));
        ui_ = FrontEndOfAFailingRenderer();
    }
}

TEST_F(Workflow, SaveWritesTheSceneFileBeforeTheBrowserOpens) {
    OpenScene(CamerasScene({"Cam"}));
    const fs::path file = temp_.path() / "scenes" / "room.json";
    std::ofstream(file) << "overwritten by the save";
    ui_.Press(kSavePrompt, kSave);
    ui_.Folder(std::nullopt);
    Generate();
    std::ifstream in(file);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(saved.find("\"Cam\""), std::string::npos) << saved;
    EXPECT_EQ(ui_.Browses().size(), 1u);
}

TEST_F(Workflow, CancelInTheCameraDialogLeavesTheLogOpenAndTheWorkingFolderEmpty) {
    OpenScene(CamerasScene({"A", "B"}));
    ContinueInto(output_);
    COLORREF background = 0, text = 0;
    ui_.AnswerWith(kCameraDialog, [&](HWND dialog) {
        const HWND list = KorvoHost::FindControl(dialog, kCameraList);
        background = KorvoHost::FromHandle(list)->backColour;
        text = KorvoHost::FromHandle(list)->textColour;
        // A text request for an item the list does not have.
        std::array<wchar_t, 64> buffer{};
        NMLVDISPINFOW info{};
        info.hdr = {list, static_cast<UINT_PTR>(kCameraList), LVN_GETDISPINFOW};
        info.item.mask = LVIF_TEXT;
        info.item.iItem = 2;
        info.item.pszText = buffer.data();
        info.item.cchTextMax = static_cast<int>(buffer.size());
        SendMessageW(dialog, WM_NOTIFY, kCameraList, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(buffer[0], L'\0');
        KorvoHost::CloseWindow(dialog);
    });
    Generate();
    EXPECT_EQ(background, GetColorManager()->GetColor(IColorManager::kBackground));
    EXPECT_EQ(text, GetColorManager()->GetColor(IColorManager::kText));
    EXPECT_EQ(Hits(), (HitList{{kAccepted, "Default Scanline"}, {kCancelled, ""}}));
    EXPECT_EQ(LogLines(output_),
              (std::vector<std::string>{"Filename to output to: " + output_.string(),
                                        "INDEX OUT OF BOUNDS"}));
    ASSERT_TRUE(fs::is_directory(WorkFolder()));
    EXPECT_TRUE(fs::is_empty(WorkFolder()));
}

TEST_F(WorkflowSlow, OneCameraSkipsTheChoiceAndCompletes) {
    OpenScene(CamerasScene({"Cam"}));
    ContinueInto(output_);
    std::wstring link;
    COLORREF linkColour = 0;
    ui_.AnswerWith(kComplete, [&](HWND dialog) {
        KorvoHost::Window* control = KorvoHost::FromHandle(KorvoHost::FindControl(dialog, kLink));
        link = control->url;
        linkColour = control->textColour;
        KorvoHost::CloseWindow(dialog);
    });
    Generate();
    EXPECT_EQ(Dialogs(ui_), (std::vector<int>{kSavePrompt, kProgress, kComplete}));
    EXPECT_EQ(link, L"file://" + FromPath(output_));
    EXPECT_EQ(linkColour, 0x4505E9u);
    const auto log = LogLines(output_);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "Only one camera found. Skipping camera selection");
    EXPECT_EQ(log[2], "Starting render process");
    EXPECT_TRUE(fs::exists(output_ / "room_Cam.jpg"));
    EXPECT_FALSE(fs::exists(WorkFolder())) << "the cleanup deletes the working folder";
    EXPECT_EQ(Hits(),
              (HitList{{kAccepted, "Default Scanline"}, {kStarted, "1"}, {kCompleted, ""}}));
    EXPECT_TRUE(app_->Core().RegisteredDialogs().empty()) << "every dialog unregistered";
}

TEST_F(WorkflowSlow, NeverSavedSceneIsNamedScene) {
    OpenScene(CamerasScene({"Cam"}));
    app_->CurrentScene()->SetFilePath({});
    ContinueInto(output_);
    ui_.Close(kComplete);
    Generate();
    ASSERT_EQ(ui_.Browses().size(), 1u);
    EXPECT_EQ(ui_.Browses()[0].initialFolder, L"");
    const auto log = LogLines(output_);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "No name found for current scene file");
    EXPECT_TRUE(fs::exists(output_ / "Scene_Cam.jpg"));
}

TEST_F(Workflow, CancelledRunShowsNothingAndDeletesTheWorkingFolder) {
    OpenScene(CamerasScene({"Cam"}));
    ContinueInto(output_);
    ui_.PressDuringRender(kProgress, kCancelRender, 2);
    Generate();
    EXPECT_EQ(Dialogs(ui_), (std::vector<int>{kSavePrompt, kProgress}));
    EXPECT_EQ(ui_.Frames().size(), 2u) << "the run stops in the face it was cancelled in";
    EXPECT_FALSE(fs::exists(WorkFolder()));
    EXPECT_FALSE(fs::exists(output_ / "room_Cam.jpg"));
    EXPECT_EQ(Hits(),
              (HitList{{kAccepted, "Default Scanline"}, {kStarted, "1"}, {kCancelled, ""}}));
}

TEST_F(Workflow, FailedRunShowsTheRecordedCode) {
    OpenScene(CamerasScene({"Cam"}));
    app_->Core().SetRendererBroken(true);
    ContinueInto(output_);
    Generate();
    EXPECT_EQ(OpenErrorText(kContact),
              L"Oops. Looks like something went wrong. Hit the contact button below to tell us "
              L"what happened and we'll do our best to fix it.  (9)");
    EXPECT_EQ(Hits(),
              (HitList{{kAccepted, "Default Scanline"}, {kStarted, "1"}, {kErrorShown, "9"}}));
    EXPECT_FALSE(fs::exists(WorkFolder()));
}

// An exception from inside the renderer ends the run as a failure the user is told of, with
// everything the run had changed put back; nothing reaches the host's message loop.
TEST_F(Workflow, RendererThatThrowsEndsTheRunCleanlyAndTheNextRunWorks) {
    OpenScene(CamerasScene({"Cam"}));
    INode* camera = app_->CurrentScene()->FindNode(L"Cam");
    ASSERT_NE(camera, nullptr);
    const Matrix3 before = camera->GetNodeTM(0);
    ui_.throwAtFrame = 3;
    ContinueInto(output_);
    Generate();
    EXPECT_EQ(ui_.Frames().size(), 3u);
    EXPECT_TRUE(OpenErrorText(kContact).ends_with(L"(9)")) << OpenErrorText(kContact);
    const std::vector<std::string> log = LogLines(output_);
    EXPECT_NE(
        std::find(log.begin(), log.end(), "Unexpected failure: the renderer ran out of memory"),
        log.end());
    EXPECT_FALSE(fs::exists(WorkFolder()));
    EXPECT_EQ(KorvoHost::LiveBitmapCount(), 0);
    EXPECT_TRUE(camera->GetNodeTM(0) == before) << "the camera is turned back from the face";
    for (const HWND window : KorvoHost::WindowManager::Instance().TopLevelWindows())
        EXPECT_NE(KorvoHost::DialogId(window), kProgress) << "the progress dialog is closed";

    ui_.throwAtFrame = 0;
    ContinueInto(output_);
    Generate();
    EXPECT_TRUE(fs::exists(output_ / "room_Cam.jpg"));
}

TEST_F(WorkflowSlow, CameraDialogOkFollowsTheCheckBoxesAndRendersThePickedInListOrder) {
    OpenScene(CamerasScene({"C1", "C2", "C3", "C4", "C5"}));
    ContinueInto(output_);
    std::vector<bool> okEnabled;
    std::vector<std::wstring> items;
    ui_.AnswerWith(kCameraDialog, [&](HWND dialog) {
        const HWND list = KorvoHost::FindControl(dialog, kCameraList);
        const HWND ok = KorvoHost::FindControl(dialog, IDOK);
        for (int i = 0; i < KorvoHost::ItemCount(list); ++i)
            items.push_back(KorvoHost::ItemText(list, i));
        okEnabled.push_back(IsWindowEnabled(ok));
        KorvoHost::SetItemChecked(list, 3, true);
        okEnabled.push_back(IsWindowEnabled(ok));
        KorvoHost::SetItemChecked(list, 3, false);
        okEnabled.push_back(IsWindowEnabled(ok));
        KorvoHost::SetItemChecked(list, 3, true);
        KorvoHost::SetItemChecked(list, 1, true);
        KorvoHost::PressButton(dialog, IDOK);
    });
    ui_.Close(kComplete);
    Generate();
    EXPECT_EQ(items, (std::vector<std::wstring>{L"C1", L"C2", L"C3", L"C4", L"C5"}));
    EXPECT_EQ(okEnabled, (std::vector<bool>{false, true, false}));
    std::vector<std::wstring> rendered;
    for (const auto& frame : ui_.Frames())
        if (rendered.empty() || rendered.back() != frame.camera) rendered.push_back(frame.camera);
    EXPECT_EQ(rendered, (std::vector<std::wstring>{L"C2", L"C4"}));
    EXPECT_TRUE(fs::exists(output_ / "room_C2.jpg"));
    EXPECT_TRUE(fs::exists(output_ / "room_C4.jpg"));
    EXPECT_EQ(std::distance(fs::directory_iterator(output_), fs::directory_iterator()), 3)
        << "two panoramas and the log";
    EXPECT_EQ(Hits(),
              (HitList{{kAccepted, "Default Scanline"}, {kStarted, "2"}, {kCompleted, ""}}));
}

// Presses the panel's Generate again while the first run renders, as a click handled during the
// render's message processing would.
class ImpatientUser final : public ScriptedFrontEnd {
  public:
    HWND page = nullptr;
    void RenderStarted(std::wstring_view camera, int width, int height) override {
        ScriptedFrontEnd::RenderStarted(camera, width, height);
        if (Frames().size() == 1) KorvoHost::PressButton(page, kGenerate);
    }
};

TEST_F(WorkflowSlow, SecondGenerateDuringARunIsRefused) {
    OpenScene(CamerasScene({"Cam"}));
    ImpatientUser user;
    user.Press(kSavePrompt, kContinue);
    user.Folder(FromPath(output_));
    user.Press(kSavePrompt, kContinue);  // would start the second request, were it let through
    user.Close(kComplete);
    KorvoHost::SetFrontEnd(&user);
    std::string error;
    user.page = app_->OpenUtility(L"KorvoPlugin", &error);
    ASSERT_TRUE(user.page) << error;
    KorvoHost::PressButton(user.page, kGenerate);

    EXPECT_EQ(Dialogs(user), (std::vector<int>{kSavePrompt, kProgress, kComplete}));
    EXPECT_EQ(user.Frames().size(), 6u);
    EXPECT_TRUE(fs::exists(output_ / "room_Cam.jpg"));
    const auto log = LogLines(output_);
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "A render is already in progress: the new request was refused"),
              log.end());
    EXPECT_FALSE(fs::exists(WorkFolder()));
    EXPECT_EQ(Hits(),
              (HitList{{kAccepted, "Default Scanline"}, {kStarted, "1"}, {kCompleted, ""}}));
}

TEST_F(WorkflowSlow, CompletionLinkOpensTheFolderWhateverItsName) {
    const fs::path folder = temp_.path() / "my renders #1 100% a%20b";
    fs::create_directories(folder);
    OpenScene(CamerasScene({"Cam"}));
    ContinueInto(folder);
    ui_.AnswerWith(kComplete, [](HWND dialog) {
        KorvoHost::ActivateLink(dialog, kLink);
        KorvoHost::PressButton(dialog, kUpload);
        KorvoHost::PressButton(dialog, kUpload);
        KorvoHost::CloseWindow(dialog);
    });
    Generate();
    ASSERT_EQ(ui_.Opens().size(), 3u);
    EXPECT_EQ(ui_.Opens()[0].verb, L"open");
    EXPECT_EQ(ui_.Opens()[0].target, FromPath(folder));
    for (int i : {1, 2}) {
        EXPECT_EQ(ui_.Opens()[i].verb, L"");
        EXPECT_EQ(ui_.Opens()[i].target, L"https://korvo.app/login-redirect/");
    }
}

}  // namespace
