// The V-Ray back end: its stereoscopic helper, its renderer settings, and one render per picked
// camera straight into the finished panorama.
#pragma once

#include "host/scene.h"
#include "host/tab.h"
#include "shell/run_state.h"

namespace Korvo {

constexpr Class_ID kVRayStereoHelperClassID{0x778103A1, 0x3B985164};

// Collects the scene's stereoscopic helper nodes.
class VrayTreeEnum : public ITreeEnumProc {
  public:
    int callback(INode* node) override;
    Tab<INode*> helpers;
};

// The number of stereoscopic helpers in the scene (0 when none).
int CountStereoHelpers();

// The scene's first stereoscopic helper, created when there is none, with its parameters set.
INode* FindOrCreateStereoHelper();

// The cube loop, which a V-Ray RT renderer found at run time falls back on; the shell supplies it.
using CubeLoop = bool (*)(RunState& state, RenderCallback& progress);

// The workflow's entry for kind VRay. True on success; false with the error status set.
bool RenderVRayPanoramas(RunState& state, RenderCallback& progress, CubeLoop cubeLoop);

// Renders and moves every picked camera. False after the first failure, with the error status set.
bool RenderVRayCameras(RunState& state, RenderCallback& progress);

}  // namespace Korvo
