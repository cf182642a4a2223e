#include "shell/cube_loop.h"

#include <array>
#include <cwctype>
#include <memory>
#include <vector>

#include "host/util.h"
#include "render/face_geometry.h"
#include "render/render_face.h"
#include "render/renderer_events.h"
#include "render/renderer_kind.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/error_status.h"
#include "shell/workflow.h"
#include "stitch/stitcher.h"
#include "support/file_utils.h"
#include "support/log.h"

namespace Korvo {
namespace {

constexpr int kStripQuality = 100;
constexpr int kFacesPerStrip = 12;

MSTR NodeName(INode* node) {
    const MCHAR* name = node ? node->GetName() : nullptr;
    return name ? MSTR(name) : MSTR();
}

// The longest name a face file adds to its camera's name.
constexpr const MCHAR* kLongestFaceSuffix = L"_bottom_image_right.png";

// A node name can be part of a file name when it names no folder and its longest face file is a
// legal path.
bool UsableInFileName(const MSTR& name) {
    return !name.empty() && name.find_first_of(L"/\\") == MSTR::npos &&
           MaxSDK::Util::Path(name + kLongestFaceSuffix).IsLegal();
}

bool SameFileName(const MSTR& a, const MSTR& b) {
    // Compared as file systems that ignore case compare them.
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towlower(x) == std::towlower(y);
           });
}

// Whether a camera picked before this node in the list has the same name: their face files would
// overwrite each other, since every camera is rendered before any is stitched.
bool NameTakenByEarlierPick(const KorvoPlugin& plugin, INode* node, const MSTR& name) {
    for (const CameraData* camera : plugin.cameras) {
        if (!camera) continue;
        if (camera->node == node) return false;
        if (camera->selected && SameFileName(NodeName(camera->node), name)) return true;
    }
    return false;
}

// What the loop needs of a picked camera. The loop keeps its own copy: the host processes window
// messages during every render, and a request handled then may empty the camera list.
struct PickedCamera {
    INode* node;
    MSTR fileName;
};

std::vector<PickedCamera> PickedCameras(const KorvoPlugin& plugin) {
    std::vector<PickedCamera> picked;
    for (const CameraData* camera : plugin.cameras)
        if (camera && camera->selected) picked.push_back({camera->node, camera->fileName});
    return picked;
}

// The strip's path as the stitcher takes it: multibyte text in a buffer of 260 bytes. A path that
// does not fit, or that the code page cannot hold, is refused rather than cut to another name.
bool NarrowStripPath(const MSTR& strip, std::array<char, 260>& narrow) {
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, strip.c_str(), -1, narrow.data(),
                                          static_cast<int>(narrow.size()), nullptr, &lossy);
    return bytes > 0 && !lossy;
}

bool StitchPicked(const KorvoPlugin& plugin, const std::vector<PickedCamera>& picked, int layout);

// The face's file as the loop writes it and as the stitcher reads it.
MSTR PrefixedFacePath(const MSTR& workFolder, INode* node, int face, int eye) {
    return workFolder + L"/" + NodeName(node) + L"_" + FaceFileName(face, eye);
}

}  // namespace

const MCHAR* FaceFileName(int face, int eye) {
    static constexpr std::array<std::array<const MCHAR*, 2>, 6> kNames{{
        {L"top_image_left.png", L"top_image_right.png"},
        {L"bottom_image_left.png", L"bottom_image_right.png"},
        {L"left_image_left.png", L"left_image_right.png"},
        {L"right_image_left.png", L"right_image_right.png"},
        {L"front_image_left.png", L"front_image_right.png"},
        {L"back_image_left.png", L"back_image_right.png"},
    }};
    if (face < 0 || face >= static_cast<int>(kNames.size())) return nullptr;
    return kNames[face][eye == 0 ? 0 : 1];
}

MSTR StripFileName(const KorvoPlugin& plugin, INode* node) {
    return plugin.sceneName + L"_" + NodeName(node) + L".jpg";
}

void fix_cam(KorvoPlugin& plugin, INode* node) {
    if (!node) return;
    const MSTR oldName = NodeName(node);
    if (UsableInFileName(oldName) && !NameTakenByEarlierPick(plugin, node, oldName)) return;
    MSTR newName = L"Korvo_Camera";
    LogFormat(ResourceString(IDS_INVALID_CAMERA_NAME), oldName, newName);
    if (Interface* ip = GetCOREInterface()) ip->MakeNameUnique(newName);
    // The unique name may still match a picked camera's name but for case.
    for (int n = 1; NameTakenByEarlierPick(plugin, node, newName); ++n)
        newName = L"Korvo_Camera_" + std::to_wstring(n);
    node->SetName(newName.c_str());
    node->NotifyDependents(FOREVER, 0, REFMSG_NODE_NAMECHANGE, NOTIFY_ALL, TRUE, nullptr,
                           REFNOTIFY_ALLOW_OPT_OUT);
    // A strip name formed from the old name could not be created: form it from the new one.
    for (CameraData* camera : plugin.cameras)
        if (camera && camera->node == node && !camera->fileName.empty())
            camera->fileName = StripFileName(plugin, node);
}

void SaveFaceFile(BitmapInfo& info, Bitmap* bitmap, const MSTR& workFolder, const CameraData& camera,
                  int face, int eye) {
    const MSTR path = PrefixedFacePath(workFolder, camera.node, face, eye);
    info.SetName(path.c_str());
    bitmap->OpenOutput(&info);
    bitmap->Write(&info, BMM_SINGLEFRAME);
    bitmap->Close(&info, BMM_CLOSE_COMPLETE);
}

bool RenderCubeFaces(KorvoPlugin& plugin, RenderCallback& progress) {
    const std::vector<PickedCamera> picked = PickedCameras(plugin);
    const int pickedCount = static_cast<int>(picked.size());
    LogFormat(ResourceString(IDS_CAMERA_COUNT), static_cast<std::int32_t>(pickedCount));
    if (pickedCount == 0) {
        LogMessage(ResourceString(IDS_NO_CAMERA_PICKED));
        EndOfRunCleanup(plugin);
        return true;
    }
    // A strip that could not reach the stitcher would fail the run after every render: refuse it
    // before the first one.
    for (const PickedCamera& camera : picked) {
        std::array<char, 260> narrow{};
        const MSTR strip = plugin.workFolder + L"/" + camera.fileName;
        if (!NarrowStripPath(strip, narrow)) {
            LogFormat(ResourceString(IDS_PATH_TOO_LONG), strip);
            SetError(kErrorResultMove, true);
            return false;
        }
    }

    progress.SetMarquee(0);
    Renderer* renderer = CurrentRenderer();
    const std::shared_ptr<RendererEvents> events = MakeRendererEvents(renderer);
    const bool eachEye = events->IsStereo();
    const bool wantsFloat =
        renderer && renderer->HasRequirement(Renderer::kRequirement_Wants32bitFPOutput);
    if (wantsFloat) LogMessage(ResourceString(IDS_WANTS_FLOAT));
    events->OnRunStart();

    const int renders = eachEye ? 12 : 6;
    const int bitmapType = wantsFloat ? BMM_FLOAT_RGBA_32 : BMM_TRUE_32;
    const double percentPerDegree = (1.0 / 6.0) / pickedCount;
    for (int cameraIndex = 0; cameraIndex < pickedCount; ++cameraIndex) {
        INode* node = picked[cameraIndex].node;
        const CameraData camera{node, picked[cameraIndex].fileName, true};
        LogFormat(ResourceString(IDS_RENDERING_CAMERA), NodeName(node));
        ProjectCamera(node);
        PrepareCubeCamera(node);

        for (int i = 0; i < renders; ++i) {
            const int face = eachEye ? i / 2 : i;
            const int eye = eachEye ? i % 2 : static_cast<int>(Eye::LeftEye);
            events->OnBeforeFace(face, eye, eachEye);
            LogFormat(ResourceString(IDS_RENDERING_SIDE), static_cast<std::int32_t>(i));
            progress.SetPercent((cameraIndex * 540 + face * 90) * percentPerDegree);

            RenderedFace rendered;
            if (!RenderCubeFace(node, face, bitmapType, &progress, rendered)) {
                LogFormat(ResourceString(IDS_SIDE_FAILED), static_cast<std::int32_t>(face));
                SetError(kErrorFaceRender, true);
                return false;
            }
            events->OnAfterFace(face, eye, eachEye);
            if (eachEye) {
                SaveFaceFile(rendered.info, rendered.bitmap, plugin.workFolder, camera, face, eye);
            } else {
                // A mono renderer's face serves both eyes.
                SaveFaceFile(rendered.info, rendered.bitmap, plugin.workFolder, camera, face,
                             static_cast<int>(Eye::LeftEye));
                SaveFaceFile(rendered.info, rendered.bitmap, plugin.workFolder, camera, face,
                             static_cast<int>(Eye::RightEye));
            }
            rendered.bitmap->DeleteThis();
        }
    }

    events->OnRunEnd();
    progress.SetPercent(90);
    LogMessage(ResourceString(IDS_DONE_RENDERING));
    if (!StitchPicked(plugin, picked, events->GetStitchLayout())) return false;
    progress.SetPercent(100);
    return true;
}

bool StitchCameras(KorvoPlugin& plugin, int layout) {
    return StitchPicked(plugin, PickedCameras(plugin), layout);
}

namespace {

bool StitchPicked(const KorvoPlugin& plugin, const std::vector<PickedCamera>& picked, int layout) {
    LogMessage(ResourceString(IDS_STITCHING));
    for (const PickedCamera& camera : picked) {
        const MSTR name = NodeName(camera.node);
        LogFormat(ResourceString(IDS_STITCH_CAMERA_START), name);

        // The stitcher finds the faces beside the strip, under their bare names.
        for (int k = 0; k < kFacesPerStrip; ++k) {
            const int face = k / 2, eye = k % 2;
            const MSTR source = PrefixedFacePath(plugin.workFolder, camera.node, face, eye);
            if (!BMMIsFile(source.c_str())) {
                SetError(kErrorFaceMissing, true);
                LogFormat(ResourceString(IDS_FACE_MISSING), source);
                return false;
            }
            const MSTR destination = plugin.workFolder + L"/" + FaceFileName(face, eye);
            const std::int32_t moved = MoveFileSafe(source, destination, true);
            if (moved != kMoveDone) {
                const DWORD error = GetLastError();
                LogFormat(ResourceString(IDS_FACE_RENAME_FAILED), source, destination, moved,
                          static_cast<std::uint32_t>(error));
                SetError(kErrorFaceRename, true);
                return false;
            }
        }

        const MSTR strip = plugin.workFolder + L"/" + camera.fileName;
        std::array<char, 260> narrow{};
        if (!NarrowStripPath(strip, narrow)) {
            LogFormat(ResourceString(IDS_PATH_TOO_LONG), strip);
            SetError(kErrorResultMove, true);
            return false;
        }
        const std::uint32_t stitched = layout == kStitchGrid
                                           ? StitchFaceGrid(narrow.data(), kStripQuality)
                                           : StitchFaceStrip(narrow.data(), kFacesPerStrip, kStripQuality);
        if (stitched != 0) {
            LogFormat(ResourceString(IDS_STITCH_FAILED), strip, stitched);
            SetError(kErrorResultMove, true);
            return false;
        }

        const MSTR final = plugin.outputFolder + L"/" + camera.fileName;
        const std::int32_t moved = MoveFileSafe(strip, final, false);
        if (moved != kMoveDone) {
            SetError(kErrorResultMove, true);
            const DWORD error = GetLastError();
            LogFormat(ResourceString(IDS_MOVE_FAILED), strip, final, moved,
                      static_cast<std::uint32_t>(error));
            return false;
        }
        if (layout == kStitchStrip) {
            for (int k = 0; k < kFacesPerStrip; ++k)
                DeleteFileW((plugin.workFolder + L"/" + FaceFileName(k / 2, k % 2)).c_str());
        }
        LogFormat(ResourceString(IDS_STITCH_CAMERA_END), name);
    }
    LogMessage(ResourceString(IDS_DONE_STITCHING));
    return true;
}

}  // namespace
}  // namespace Korvo
