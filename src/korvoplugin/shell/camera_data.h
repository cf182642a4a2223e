// One camera of the scene as the run sees it.
#pragma once

#include "host/max_types.h"
#include "host/scene.h"
#include "host/tab.h"

namespace Korvo {

struct CameraData {
    INode* node = nullptr;  // not owned
    MSTR fileName;          // the camera's strip file: scene name, "_", node name, ".jpg"
    bool selected = false;  // picked for this run
};

// The camera list: records owned by the list, in scene order.
using CameraList = Tab<CameraData*>;

}  // namespace Korvo
