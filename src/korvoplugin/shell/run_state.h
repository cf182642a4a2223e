// What a run works on: the scene's cameras and the picked ones, the run's folders and names, and
// the progress object. The utility object holds it; the back ends are handed it.
#pragma once

#include "host/max_types.h"
#include "host/scene.h"
#include "host/tab.h"
#include "shell/camera_data.h"
#include "shell/render_callback.h"

namespace Korvo {

struct RunState {
    RenderCallback progress;
    CameraList cameras;
    Tab<INode*> selectedCameras;
    MSTR workFolder;
    MSTR sceneName;
    MSTR outputFolder;
};

}  // namespace Korvo
