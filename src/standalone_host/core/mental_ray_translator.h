// The host's mental ray translator for the camera lens shader: it asks the renderer's lens
// shader map for its renderer-side shader, has the map translate its parameters into it, and
// starts the shader's render in the mental ray stand-in.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/max_types.h"
#include "standalone_host/mental_ray/mental_ray_renderer.h"

namespace KorvoHost {

class SceneRenderer;

// For a mental ray renderer whose camera lens shader is on and set: the render of that shader
// for a camera, its library found in pluginFolder under the shader's declared name. Null with an
// empty error when there is no lens shader to use (the camera draws as it is); null with error
// set when the lens shader cannot be used.
std::unique_ptr<MentalRay::LensRender> PrepareLensShader(
    SceneRenderer& renderer, const Transform& cameraToWorld, TimeValue t,
    const std::filesystem::path& pluginFolder, MentalRay::TraceMode mode,
    MentalRay::TraceFunction trace, std::string& error);

}  // namespace KorvoHost
