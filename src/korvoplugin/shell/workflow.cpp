#include "shell/workflow.h"

#include <exception>
#include <string>

#include "host/util.h"
#include "host/win32_window.h"
#include "render/arnold_backend.h"
#include "render/renderer_kind.h"
#include "render/vray_backend.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/cube_loop.h"
#include "shell/dialogs.h"
#include "shell/error_status.h"
#include "shell/output_folder.h"
#include "support/file_utils.h"
#include "support/host_boundary.h"
#include "support/log.h"
#include "support/module_handle.h"

namespace Korvo {
namespace {

constexpr const MCHAR* kWorkFolderName = L"korvo_scratch";
constexpr const MCHAR* kUnsavedSceneName = L"Scene";

bool gRunInProgress = false;

// Marks the run for as long as RunRenders works on it.
class RunMark {
  public:
    RunMark() { gRunInProgress = true; }
    ~RunMark() { gRunInProgress = false; }
    RunMark(const RunMark&) = delete;
    RunMark& operator=(const RunMark&) = delete;
};

HWND MainWindow() {
    Interface* ip = GetCOREInterface();
    return ip ? ip->GetMAXHWnd() : nullptr;
}

std::wstring Decimal(int value) { return std::to_wstring(value); }

// The error report that ends a refused or failed request.
void ReportError() {
    SendWorkflowHit(AnalyticsEvent::ErrorShown, Decimal(CurrentError().code).c_str());
    ShowError();
}

// The kind's checks: the code of the first one that fails, or 0.
int CheckRenderer(Renderer* renderer) {
    const RendererKind kind = ClassifyRenderer(renderer);
    if (kind == RendererKind::VRayRT) return kErrorVRayRT;
    if (kind == RendererKind::VRay && CountStereoHelpers() > 1) return kErrorManyHelpers;
    return 0;
}

bool CubeLoopOf(RunState& state, RenderCallback& progress) {
    // The back ends see the run's state; the state is the utility object's.
    return RenderCubeFaces(static_cast<KorvoPlugin&>(state), progress);
}

void LogRefusedRequest() { LogMessage(ResourceString(IDS_RUN_IN_PROGRESS)); }

}  // namespace

bool RunInProgress() { return gRunInProgress; }

void generate(KorvoPlugin& plugin) {
    if (gRunInProgress) {
        LogRefusedRequest();
        return;
    }
    get_cams(plugin);
    if (plugin.cameras.Count() == 0) {
        SetError(kErrorNoCameras, false);
        ClearCameras(plugin);
        ReportError();
        return;
    }
    Renderer* renderer = CurrentRenderer();
    if (const int code = CheckRenderer(renderer)) {
        SetError(code, false);
        ReportError();
        return;
    }
    MSTR className;
    if (renderer) renderer->GetClassName(className);
    SendWorkflowHit(AnalyticsEvent::GenerateAccepted, className.c_str());
    DialogBoxParamW(PluginInstance(), MAKEINTRESOURCEW(IDD_SAVE_PROMPT), MainWindow(),
                    SavePromptProc, reinterpret_cast<LPARAM>(&plugin));
}

bool validate_worfklow(KorvoPlugin& plugin, bool suppress) {
    if (plugin.cameras.Count() == 0) {
        if (!suppress) SetError(kErrorNoCameras, false);
        ClearCameras(plugin);
        return false;
    }
    if (const int code = CheckRenderer(CurrentRenderer())) {
        if (!suppress) SetError(code, false);
        return false;
    }
    return true;
}

void PrepareAndRun(KorvoPlugin& plugin, HWND owner) {
    if (gRunInProgress) {
        LogRefusedRequest();
        return;
    }
    Interface* ip = GetCOREInterface();
    if (!ip) return;

    // The output folder, starting where the scene file lies.
    MSTR sceneFolder;
    SplitFilename(ip->GetCurFilePath(), &sceneFolder, nullptr, nullptr);
    const std::optional<MSTR> chosen = BrowseForOutputFolder(owner, sceneFolder.c_str());
    if (!chosen) {
        SendWorkflowHit(AnalyticsEvent::Cancelled);
        return;
    }
    plugin.outputFolder = *chosen;
    OpenLog(plugin.outputFolder);
    LogFormat(ResourceString(IDS_OUTPUT_FOLDER), plugin.outputFolder);

    // The scene's name, which every strip name starts with.
    MSTR fileName = ip->GetCurFileName();
    if (fileName.empty()) {
        LogMessage(ResourceString(IDS_NO_SCENE_NAME));
        fileName = kUnsavedSceneName;
    }
    SplitFilename(fileName, nullptr, &plugin.sceneName, nullptr);

    // The working folder, in the host's temporary directory.
    const MCHAR* tempDir = ip->GetDir(APP_TEMP_DIR);
    const MSTR workFolder = MSTR(tempDir ? tempDir : L"") + L"/" + kWorkFolderName;
    if (!EnsureFolder(workFolder)) {
        LogFormat(ResourceString(IDS_WORK_FOLDER_FAILED), workFolder);
        SetError(kErrorWorkFolder, true);
        ReportError();
        return;
    }
    plugin.workFolder = workFolder;

    for (CameraData* camera : plugin.cameras)
        if (camera) camera->fileName = StripFileName(plugin, camera->node);

    // The camera choice: none to make with one camera.
    if (plugin.cameras.Count() == 1) {
        LogMessage(ResourceString(IDS_ONE_CAMERA));
        CameraData* camera = plugin.cameras[0];
        if (camera) {
            camera->selected = true;
            fix_cam(plugin, camera->node);
        }
        RunRenders(plugin);
        ClearCameras(plugin);
        return;
    }
    if (plugin.cameraDialog) return;
    DialogBoxParamW(PluginInstance(), MAKEINTRESOURCEW(IDD_SELECT_CAMERAS), MainWindow(),
                    CameraDialogProc, reinterpret_cast<LPARAM>(&plugin));
}

void RunRenders(KorvoPlugin& plugin) {
    if (gRunInProgress) {
        LogRefusedRequest();
        return;
    }
    const RunMark mark;
    plugin.selectedCameras.SetCount(0);
    LogMessage(ResourceString(IDS_STARTING_RENDER));

    const HWND window =
        CreateDialogParamW(PluginInstance(), MAKEINTRESOURCEW(IDD_PROGRESS), MainWindow(),
                           ProgressDialogProc, reinterpret_cast<LPARAM>(&plugin));
    plugin.progress.dialog = window;
    if (window) ShowWindow(window, SW_SHOW);

    const RendererKind kind = ClassifyRenderer(CurrentRenderer());
    int picked = 0;
    for (CameraData* camera : plugin.cameras) {
        if (!camera || !camera->selected) continue;
        INode* node = camera->node;
        plugin.selectedCameras.Append(1, &node, 10);
        ++picked;
    }
    SendWorkflowHit(AnalyticsEvent::RunStarted, Decimal(picked).c_str());

    plugin.progress.ProgressStart();
    bool succeeded = false;
    try {
        switch (kind) {
            case RendererKind::VRay:
                succeeded = RenderVRayPanoramas(plugin, plugin.progress, CubeLoopOf);
                break;
            case RendererKind::Arnold:
                succeeded = RenderArnoldPanoramas(plugin);
                break;
            default:
                succeeded = RenderCubeFaces(plugin, plugin.progress);
                break;
        }
    } catch (...) {
        // Whatever gave way (memory, the renderer), the run ends as a failed one: its dialog
        // closes, the user is told and the working folder goes, as after any other failure.
        LogUnexpectedFailure(std::current_exception());
        SetError(kErrorFaceRender, true);
        succeeded = false;
    }
    plugin.progress.ProgressEnd();

    if (plugin.progress.cancelled) {
        SendWorkflowHit(AnalyticsEvent::Cancelled);
    } else if (succeeded) {
        SendWorkflowHit(AnalyticsEvent::RunCompleted);
        DialogBoxParamW(PluginInstance(), MAKEINTRESOURCEW(IDD_COMPLETE), MainWindow(),
                        CompletionDialogProc, reinterpret_cast<LPARAM>(&plugin));
    } else {
        ReportError();
    }
    EndOfRunCleanup(plugin);
}

void EndOfRunCleanup(KorvoPlugin& plugin) {
    ClearCameras(plugin);
    const DWORD attributes = GetFileAttributesW(plugin.workFolder.c_str());
    // When the folder is already gone the log stays open.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFolderTree(plugin.workFolder);
        CloseLog();
    }
}

void get_cams(KorvoPlugin& plugin) {
    ClearCameras(plugin);
    Interface* ip = GetCOREInterface();
    if (IScene* scene = ip ? ip->GetScene() : nullptr) scene->EnumTree(&plugin, FALSE, TRUE);
}

void ClearCameras(KorvoPlugin& plugin) {
    for (CameraData*& camera : plugin.cameras) {
        delete camera;
        camera = nullptr;
    }
    plugin.cameras.SetCount(0);
}

}  // namespace Korvo
