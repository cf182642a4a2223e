#include "render/vray_backend.h"

#include <cstdint>
#include <vector>

#include "host/bitmap.h"
#include "host/interface.h"
#include "host/maxscript.h"
#include "render/render_face.h"
#include "render/renderer_kind.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/error_status.h"
#include "support/file_utils.h"
#include "support/log.h"
#include "support/scope_exit.h"

namespace Korvo {
namespace {

// The panorama: both eyes side by side, each eye a row of six cube cells.
constexpr int kPanoramaWidth = 18432;
constexpr int kPanoramaHeight = 1536;
constexpr int kEyeWidth = kPanoramaWidth / 2;

// Eye distance in centimetres.
constexpr double kEyeDistanceCm = 6.4;

// The helper's settings, written in this order.
struct HelperSetting {
    ParamID id;
    int value;
};
constexpr HelperSetting kHelperSettings[] = {{0, 1}, {1, 0}, {3, 0}, {4, 1}};
constexpr ParamID kHelperEyeDistance = 2;

// The renderer's settings, each on its block, written in this order.
struct RendererSetting {
    BlockID block;
    ParamID id;
    int value;
};
constexpr RendererSetting kRendererSettings[] = {{10, 83, 10}, {2, 6, 0}, {15, 170, 0}};

bool RenderFailed() {
    LogMessage(ResourceString(IDS_VRAY_FAILED));
    SetError(kErrorVRayRender, false);
    return false;
}

void WriteRendererSettings(Renderer* renderer) {
    for (const RendererSetting& setting : kRendererSettings)
        if (IParamBlock2* block = renderer->GetParamBlockByID(setting.block))
            block->SetValue(setting.id, 0, setting.value);
}

// A picked camera as the run started: the host processes window messages during every render,
// and a request handled then may empty the camera list.
struct PickedCamera {
    INode* node = nullptr;
    MSTR fileName;
};

std::vector<PickedCamera> PickedCameras(const RunState& state) {
    std::vector<PickedCamera> picked;
    for (const CameraData* camera : state.cameras)
        if (camera && camera->selected) picked.push_back({camera->node, camera->fileName});
    return picked;
}

}  // namespace

int VrayTreeEnum::callback(INode* node) {
    Object* object = node->GetObjectRef();
    if (object && object->ClassID() == kVRayStereoHelperClassID) helpers.Append(1, &node, 10);
    return TREE_CONTINUE;
}

int CountStereoHelpers() {
    Interface* ip = GetCOREInterface();
    IScene* scene = ip ? ip->GetScene() : nullptr;
    if (!scene) return 0;
    VrayTreeEnum walk;
    scene->EnumTree(&walk, FALSE, TRUE);
    return walk.helpers.Count();
}

INode* FindOrCreateStereoHelper() {
    Interface* ip = GetCOREInterface();
    IScene* scene = ip ? ip->GetScene() : nullptr;
    if (!scene) return nullptr;
    VrayTreeEnum walk;
    scene->EnumTree(&walk, FALSE, TRUE);

    INode* node = nullptr;
    Object* helper = nullptr;
    if (walk.helpers.Count() > 0) {
        node = walk.helpers[0];
        helper = node->GetObjectRef();
    } else {
        helper =
            static_cast<Object*>(ip->CreateInstance(HELPER_CLASS_ID, kVRayStereoHelperClassID));
        if (!helper) return nullptr;
        node = ip->CreateObjectNode(helper);
        if (!node) return nullptr;
    }

    // Only these five are ours; the user's other settings of an existing helper stay.
    if (IParamBlock2* block = helper ? helper->GetParamBlock(0) : nullptr) {
        for (const HelperSetting& setting : kHelperSettings)
            block->SetValue(setting.id, 0, setting.value);
        const double eyeDistance = kEyeDistanceCm / GetMasterScale(UNITS_CENTIMETERS);
        block->SetValue(kHelperEyeDistance, 0, static_cast<float>(eyeDistance));
    }
    return node;
}

bool RenderVRayPanoramas(RunState& state, RenderCallback& progress, CubeLoop cubeLoop) {
    Renderer* renderer = CurrentRenderer();
    progress.SetMarquee(1);
    switch (ClassifyRenderer(renderer)) {
        case RendererKind::VRay:
            break;
        case RendererKind::VRayRT:
            if (cubeLoop) return cubeLoop(state, progress);
            [[fallthrough]];
        default:
            SetError(kErrorRendererChanged, false);
            return false;
    }
    // Without the helper V-Ray would render a plain view, not the stereo cube.
    if (!FindOrCreateStereoHelper()) return RenderFailed();
    WriteRendererSettings(renderer);
    return RenderVRayCameras(state, progress);
}

bool RenderVRayCameras(RunState& state, RenderCallback& progress) {
    Interface* ip = GetCOREInterface();
    if (!ip) return RenderFailed();
    const std::vector<PickedCamera> picked = PickedCameras(state);
    const MSTR workFolder = state.workFolder;
    const MSTR outputFolder = state.outputFolder;

    BitmapInfo info;
    info.SetType(BMM_TRUE_32);
    info.SetWidth(kPanoramaWidth);
    info.SetHeight(kPanoramaHeight);
    info.SetFlags(MAP_HAS_ALPHA);
    info.SetAspect(1.0f);

    for (const PickedCamera& camera : picked) {
        // Render the camera's panorama into the working folder
        const MSTR source = workFolder + L"/" + camera.fileName;
        info.SetName(source.c_str());
        const BitmapPtr bitmap(TheManager ? TheManager->Create(&info) : nullptr);
        if (!bitmap) return RenderFailed();
        bool rendered = false;
        {
            // Each eye is half the frame; the helper puts the two side by side.
            const ScopeExit close([ip] { ip->CloseCurRenderer(); });
            rendered =
                ip->OpenCurRenderer(camera.node, nullptr, RENDTYPE_NORMAL, kEyeWidth,
                                    kPanoramaHeight) &&
                ip->CurRendererRenderFrame(0, bitmap.get(), &progress, 1.0f, nullptr, nullptr);
        }
        if (!rendered) return RenderFailed();
        bitmap->OpenOutput(&info);
        bitmap->Write(&info, BMM_SINGLEFRAME);
        bitmap->Close(&info, BMM_CLOSE_COMPLETE);

        // Move it into the output folder beside any panorama already there
        const MSTR destination = outputFolder + L"/" + camera.fileName;
        const std::int32_t moved = MoveFileSafe(source, destination, false);
        if (moved != kMoveDone) {
            const auto error = static_cast<std::uint32_t>(GetLastError());
            LogFormat(ResourceString(IDS_MOVE_FAILED), source, destination, moved, error);
            SetError(kErrorResultMove, true);
            return false;
        }
    }
    return true;
}

}  // namespace Korvo
