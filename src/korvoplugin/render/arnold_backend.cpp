#include "render/arnold_backend.h"

#include "shell/error_status.h"

namespace Korvo {

bool RenderArnoldPanoramas(RunState&) {
    SetError(kErrorRendererChanged, false);
    return false;
}

}  // namespace Korvo
