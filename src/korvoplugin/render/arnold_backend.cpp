#include "render/arnold_backend.h"

#include <opencv2/core.hpp>
#include <vector>

#include "host/bitmap.h"
#include "host/interface.h"
#include "host/maxscript.h"
#include "host/util.h"
#include "render/image_codecs.h"
#include "render/render_face.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/error_status.h"
#include "support/log.h"
#include "support/scope_exit.h"

namespace Korvo {
namespace {

constexpr Class_ID kArnoldVRCameraClassID{0x0007DC4F, 0x000400FD};
// The VR camera's settings, written in this order.
constexpr ParamID kVRCameraFirstParam = 2;
constexpr int kVRCameraFirstValue = 2;
constexpr ParamID kVRCameraSecondParam = 1;
constexpr int kVRCameraSecondValue = 1;

constexpr int kPanoramaWidth = 18432;
constexpr int kPanoramaHeight = 1536;
constexpr int kTiles = 12;

const MCHAR* const kFilterScript = L"renderers.current.filter=3";
const MCHAR* const kFilterWidthScript = L"renderers.current.filter_width=1.0";
const MCHAR* const kRenderFailed = L"Cancel/fail Arnold renderer";

// The current scene file's name without its extension; "Untitled" for a scene never saved.
MSTR ArnoldSceneName(Interface& ip) {
    MSTR base;
    SplitFilename(ip.GetCurFileName(), nullptr, &base, nullptr);
    return base.empty() ? MSTR(L"Untitled") : base;
}

bool Exists(const MSTR& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// folder/stem + ext, or the first of folder/stem (1) + ext, folder/stem (2) + ext, … not taken.
MSTR FreePath(const MSTR& folder, const MSTR& stem, const MSTR& ext) {
    MSTR path = folder + L"/" + stem + ext;
    for (int n = 1; Exists(path); ++n)
        path = folder + L"/" + stem + L" (" + std::to_wstring(n) + L")" + ext;
    return path;
}

// The path in the system's multibyte code page, for the image library. A path the code page cannot
// hold would name another file: refused.
bool NarrowPath(const MSTR& wide, std::string& narrow) {
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return false;
    narrow.assign(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), bytes, nullptr, &lossy) !=
            bytes ||
        lossy)
        return false;
    narrow.pop_back();  // the NUL
    return true;
}

// Logs why the panorama could not be finished and records it for the contact dialog.
bool PanoramaFailed(int textId, const MSTR& path) {
    LogFormat(ResourceString(textId), path);
    SetError(kErrorResultMove, true);
    return false;
}

// The twelve tiles of the rendered panorama, reordered into a file beside it that then replaces
// it: the render stays on disk until its successor is complete.
bool FinishPanorama(const MSTR& path, const std::string& narrowPath) {
    const cv::Mat image = ReadColorImage(narrowPath);
    if (image.empty()) return PanoramaFailed(IDS_ARNOLD_READ_FAILED, path);

    MSTR folder, stem;
    SplitFilename(path, &folder, &stem, nullptr);
    const MSTR reordered = FreePath(folder, stem + L".reordered", L".jpg");
    std::string narrowReordered;
    if (!NarrowPath(reordered, narrowReordered))
        return PanoramaFailed(IDS_ARNOLD_PATH_UNUSABLE, reordered);
    if (!ReorderArnoldStrip(image, narrowReordered)) {
        DeleteFileW(reordered.c_str());
        return PanoramaFailed(IDS_ARNOLD_WRITE_FAILED, reordered);
    }
    if (!MoveFileExW(reordered.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(reordered.c_str());
        return PanoramaFailed(IDS_ARNOLD_WRITE_FAILED, path);
    }
    return true;
}

// Renders one camera through a temporary VR camera at its place into the file at path.
bool RenderThroughVRCamera(Interface17& ip, INode* picked, const MSTR& path) {
    auto* object = static_cast<Object*>(ip.CreateInstance(CAMERA_CLASS_ID, kArnoldVRCameraClassID));
    INode* camera = object ? ip.CreateObjectNode(object, picked->GetName()) : nullptr;
    if (!camera) {
        LogMessage(kRenderFailed);
        return false;
    }
    // The temporary camera leaves the scene on every way out, the render camera cleared before
    // its node goes so that it never names a deleted node.
    const ScopeExit removeCamera([&] {
        ip.SetRenderCamera(nullptr);
        camera->Delete(0, TRUE);
    });
    if (IParamBlock2* block = object->GetParamBlock(0)) {
        block->SetValue(kVRCameraFirstParam, 0, kVRCameraFirstValue);
        block->SetValue(kVRCameraSecondParam, 0, kVRCameraSecondValue);
    }
    camera->SetNodeTM(0, picked->GetNodeTM(0));

    BitmapInfo info;
    info.SetType(BMM_TRUE_32);
    info.SetWidth(kPanoramaWidth);
    info.SetHeight(kPanoramaHeight);
    info.SetName(path.c_str());
    const BitmapPtr bitmap(TheManager ? TheManager->Create(&info) : nullptr);
    if (bitmap) bitmap->OpenOutput(&info);

    ip.SetRenderCamera(camera);
    if (!bitmap || !ip.RenderFrame(0, bitmap.get(), nullptr)) {
        LogMessage(kRenderFailed);
        return false;
    }
    ip.SetRenderCamera(nullptr);
    bitmap->Write(&info, BMM_SINGLEFRAME);
    return true;
}

}  // namespace

bool ReorderArnoldStrip(const cv::Mat& image, const std::string& path) {
    if (image.empty() || image.cols < kTiles) return false;
    const int width = image.cols / kTiles;
    try {
        std::vector<cv::Mat> tiles(kTiles);
        for (int i = 0; i < kTiles; ++i) {
            const cv::Mat tile(image, cv::Rect(i * width, 0, width, image.rows));
            // The top and bottom tiles come upside down, the others mirrored.
            const bool upsideDown = i == 2 || i == 3 || i == 8 || i == 9;
            cv::flip(tile, tiles[i], upsideDown ? 0 : 1);
        }
        cv::Mat strip;
        cv::hconcat(tiles, strip);
        return WriteImage(path, strip);
    } catch (const cv::Exception&) {
        return false;
    }
}

bool RenderArnoldPanoramas(RunState& state) {
    Interface17* ip = GetCOREInterface17();
    if (!ip) return false;
    const MSTR sceneName = ArnoldSceneName(*ip);
    ExecuteMAXScriptScript(kFilterScript, FALSE, nullptr);
    ExecuteMAXScriptScript(kFilterWidthScript, FALSE, nullptr);

    // The list as the run started: the host processes window messages while it renders.
    std::vector<INode*> picked;
    for (INode* node : state.selectedCameras)
        if (node) picked.push_back(node);
    const MSTR outputFolder = state.outputFolder;

    bool done = true;
    for (INode* node : picked) {
        const MSTR path = FreePath(outputFolder, sceneName + L"_" + node->GetName(), L".jpg");
        std::string narrowPath;
        if (!NarrowPath(path, narrowPath)) {
            done = PanoramaFailed(IDS_ARNOLD_PATH_UNUSABLE, path);
            break;
        }
        if (!RenderThroughVRCamera(*ip, node, path) || !FinishPanorama(path, narrowPath)) {
            done = false;
            break;
        }
    }
    ip->SetRenderCamera(nullptr);
    return done;
}

}  // namespace Korvo
