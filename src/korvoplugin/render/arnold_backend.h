// The Arnold back end: one render per picked camera through Arnold's VR camera.
#pragma once

#include "shell/run_state.h"

namespace Korvo {

// The workflow's entry for kind Arnold. True when every picked camera was rendered; false after
// the first failure, with the error status set.
bool RenderArnoldPanoramas(RunState& state);

}  // namespace Korvo
