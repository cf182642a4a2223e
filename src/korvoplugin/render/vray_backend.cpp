#include "render/vray_backend.h"

#include "host/interface.h"
#include "shell/error_status.h"

namespace Korvo {

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

INode* FindOrCreateStereoHelper() { return nullptr; }

bool RenderVRayPanoramas(RunState&, RenderCallback&, CubeLoop) {
    SetError(kErrorRendererChanged, false);
    return false;
}

bool RenderVRayCameras(RunState&, RenderCallback&) { return false; }

}  // namespace Korvo
