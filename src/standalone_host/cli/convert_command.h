// korvo convert: a cube panorama as a stereo equirectangular JPEG for VR players.
#pragma once

#include <CLI/CLI.hpp>

#include "standalone_host/cli/script_command.h"

namespace KorvoCli {

// Adds "convert" to the command line.
SubcommandRunner AddConvertCommand(CLI::App& cli);

}  // namespace KorvoCli
