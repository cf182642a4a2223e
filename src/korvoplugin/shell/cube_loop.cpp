#include "shell/cube_loop.h"

#include <array>
#include <cstddef>
#include <cstdint>
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

constexpr int kCubeFaces = 6;
constexpr int kEyes = 2;
constexpr int kFacesPerStrip = kCubeFaces * kEyes;
constexpr int kStripQuality = 100;
// The stitcher takes the strip's path as multibyte text in a buffer of this many bytes.
constexpr std::size_t kNarrowPathBytes = 260;

// The renders move the progress bar from 0 to just under this percentage, one step per face of
// each camera; the stitch moves it on to the end.
constexpr int kRenderedPercent = 90;
constexpr int kDonePercent = 100;

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
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
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

// One picked camera with every file of its panorama, formed once when the run starts. The loop
// keeps its own records: the host processes window messages during every render, and a request
// handled then may empty the camera list.
struct PickedCamera {
    INode* node = nullptr;
    MSTR name;                                              // the node's name when the run started
    std::array<std::array<MSTR, kEyes>, kCubeFaces> faces;  // face files, by face and eye
    MSTR strip;                                             // the stitched strip, beside them
    MSTR destination;                                       // the panorama in the output folder
    // The strip's path as the stitcher takes it. A path that does not fit, or that the code page
    // cannot hold, is refused rather than cut to another name.
    std::array<char, kNarrowPathBytes> narrowStrip{};
    bool narrowed = false;
};

// The face's file as the loop writes it and as the stitcher reads it.
MSTR PrefixedFacePath(const MSTR& workFolder, const MSTR& cameraName, int face, int eye) {
    return workFolder + L"/" + cameraName + L"_" + FaceFileName(face, eye);
}

PickedCamera MakePickedCamera(const KorvoPlugin& plugin, const CameraData& camera) {
    PickedCamera picked;
    picked.node = camera.node;
    picked.name = NodeName(camera.node);
    for (int face = 0; face < kCubeFaces; ++face)
        for (int eye = 0; eye < kEyes; ++eye)
            picked.faces[face][eye] = PrefixedFacePath(plugin.workFolder, picked.name, face, eye);
    picked.strip = plugin.workFolder + L"/" + camera.fileName;
    picked.destination = plugin.outputFolder + L"/" + camera.fileName;
    BOOL lossy = FALSE;
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, picked.strip.c_str(), -1, picked.narrowStrip.data(),
                            static_cast<int>(picked.narrowStrip.size()), nullptr, &lossy);
    picked.narrowed = bytes > 0 && !lossy;
    return picked;
}

std::vector<PickedCamera> PickedCameras(const KorvoPlugin& plugin) {
    std::vector<PickedCamera> picked;
    for (const CameraData* camera : plugin.cameras)
        if (camera && camera->selected) picked.push_back(MakePickedCamera(plugin, *camera));
    return picked;
}

// Logs why the run stops, records the error for the contact dialog and answers false.
template <class... Args>
bool Fail(int code, int textId, const Args&... args) {
    LogFormat(ResourceString(textId), args...);
    SetError(code, true);
    return false;
}

// Whether the face reached its file. A face that did not (a full disk, say) would otherwise be
// found only by the stitch, as a black cell or an older run's face of the same name.
bool WriteFaceFile(BitmapInfo& info, Bitmap* bitmap, const MSTR& path) {
    info.SetName(path.c_str());
    const bool written = bitmap->OpenOutput(&info) == BMMRES_SUCCESS &&
                         bitmap->Write(&info, BMM_SINGLEFRAME) == BMMRES_SUCCESS;
    bitmap->Close(&info, BMM_CLOSE_COMPLETE);
    return written;
}

bool StitchPicked(const MSTR& workFolder, const std::vector<PickedCamera>& picked, int layout);

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

void SaveFaceFile(BitmapInfo& info, Bitmap* bitmap, const MSTR& workFolder,
                  const CameraData& camera, int face, int eye) {
    WriteFaceFile(info, bitmap, PrefixedFacePath(workFolder, NodeName(camera.node), face, eye));
}

bool RenderCubeFaces(KorvoPlugin& plugin, RenderCallback& progress) {
    // Count the picked cameras; with none the run is over. The records keep the folders the run
    // started with.
    const MSTR workFolder = plugin.workFolder;
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
    for (const PickedCamera& camera : picked)
        if (!camera.narrowed) return Fail(kErrorResultMove, IDS_PATH_TOO_LONG, camera.strip);

    // Set up the renderer's hooks and the faces' bitmap type.
    progress.SetMarquee(0);
    Renderer* renderer = CurrentRenderer();
    const std::shared_ptr<RendererEvents> events = MakeRendererEvents(renderer);
    const bool eachEye = events->IsStereo();
    const bool wantsFloat =
        renderer && renderer->HasRequirement(Renderer::kRequirement_Wants32bitFPOutput);
    if (wantsFloat) LogMessage(ResourceString(IDS_WANTS_FLOAT));
    events->OnRunStart();
    const int renders = eachEye ? kFacesPerStrip : kCubeFaces;
    const int bitmapType = wantsFloat ? BMM_FLOAT_RGBA_32 : BMM_TRUE_32;
    const double percentPerStep = (1.0 / kCubeFaces) / pickedCount;

    // Render every face of every picked camera into the working folder.
    for (int cameraIndex = 0; cameraIndex < pickedCount; ++cameraIndex) {
        const PickedCamera& camera = picked[cameraIndex];
        LogFormat(ResourceString(IDS_RENDERING_CAMERA), camera.name);
        ProjectCamera(camera.node);
        PrepareCubeCamera(camera.node);

        for (int i = 0; i < renders; ++i) {
            const int face = eachEye ? i / kEyes : i;
            const int eye = eachEye ? i % kEyes : static_cast<int>(Eye::LeftEye);
            events->OnBeforeFace(face, eye, eachEye);
            LogFormat(ResourceString(IDS_RENDERING_SIDE), static_cast<std::int32_t>(i));
            progress.SetPercent((cameraIndex * kCubeFaces + face) * kRenderedPercent *
                                percentPerStep);

            RenderedFace rendered;
            if (!RenderCubeFace(camera.node, face, bitmapType, &progress, rendered))
                return Fail(kErrorFaceRender, IDS_SIDE_FAILED, static_cast<std::int32_t>(face));
            events->OnAfterFace(face, eye, eachEye);
            // A mono renderer's face serves both eyes.
            const MSTR* unwritten = nullptr;
            for (int e = 0; e < kEyes && !unwritten; ++e) {
                if (eachEye && e != eye) continue;
                if (!WriteFaceFile(rendered.info, rendered.bitmap.get(), camera.faces[face][e]))
                    unwritten = &camera.faces[face][e];
            }
            rendered.bitmap.reset();
            if (unwritten)
                return Fail(kErrorFaceRender, IDS_FACE_WRITE_FAILED,
                            static_cast<std::int32_t>(face), *unwritten);
        }
    }
    events->OnRunEnd();
    progress.SetPercent(kRenderedPercent);
    LogMessage(ResourceString(IDS_DONE_RENDERING));

    // Stitch each camera's faces into its panorama.
    if (!StitchPicked(workFolder, picked, events->GetStitchLayout())) return false;
    progress.SetPercent(kDonePercent);
    return true;
}

bool StitchCameras(KorvoPlugin& plugin, int layout) {
    return StitchPicked(plugin.workFolder, PickedCameras(plugin), layout);
}

namespace {

bool StitchPicked(const MSTR& workFolder, const std::vector<PickedCamera>& picked, int layout) {
    LogMessage(ResourceString(IDS_STITCHING));
    for (const PickedCamera& camera : picked) {
        LogFormat(ResourceString(IDS_STITCH_CAMERA_START), camera.name);

        // The stitcher finds the faces beside the strip, under their bare names.
        for (int k = 0; k < kFacesPerStrip; ++k) {
            const int face = k / kEyes, eye = k % kEyes;
            const MSTR& source = camera.faces[face][eye];
            if (!BMMIsFile(source.c_str()))
                return Fail(kErrorFaceMissing, IDS_FACE_MISSING, source);
            const MSTR destination = workFolder + L"/" + FaceFileName(face, eye);
            const std::int32_t moved = MoveFileSafe(source, destination, true);
            if (moved != kMoveDone) {
                const auto error = static_cast<std::uint32_t>(GetLastError());
                return Fail(kErrorFaceRename, IDS_FACE_RENAME_FAILED, source, destination, moved,
                            error);
            }
        }

        // Stitch the strip beside the faces, then move it into the output folder.
        if (!camera.narrowed) return Fail(kErrorResultMove, IDS_PATH_TOO_LONG, camera.strip);
        bool faceDamaged = false;
        const std::uint32_t stitched =
            layout == kStitchGrid
                ? StitchFaceGrid(camera.narrowStrip.data(), kStripQuality, &faceDamaged)
                : StitchFaceStrip(camera.narrowStrip.data(), kFacesPerStrip, kStripQuality,
                                  &faceDamaged);
        // A face spoilt since it was written left a black cell: the strip is not kept.
        if (stitched == kStitchWritten && faceDamaged)
            return Fail(kErrorFaceMissing, IDS_FACE_DAMAGED, camera.name, camera.strip);
        if (stitched != 0) return Fail(kErrorResultMove, IDS_STITCH_FAILED, camera.strip, stitched);
        const std::int32_t moved = MoveFileSafe(camera.strip, camera.destination, false);
        if (moved != kMoveDone) {
            const auto error = static_cast<std::uint32_t>(GetLastError());
            return Fail(kErrorResultMove, IDS_MOVE_FAILED, camera.strip, camera.destination, moved,
                        error);
        }
        if (layout == kStitchStrip) {
            for (int k = 0; k < kFacesPerStrip; ++k)
                DeleteFileW((workFolder + L"/" + FaceFileName(k / kEyes, k % kEyes)).c_str());
        }
        LogFormat(ResourceString(IDS_STITCH_CAMERA_END), camera.name);
    }
    LogMessage(ResourceString(IDS_DONE_STITCHING));
    return true;
}

}  // namespace
}  // namespace Korvo
