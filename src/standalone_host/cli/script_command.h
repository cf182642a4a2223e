// korvo script: runs a script against a scene through the loaded plug-in.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>

#include "standalone_host/core/host_app.h"

namespace KorvoCli {

// Runs the command when the command line asked for it (its exit code), else answers nothing.
using SubcommandRunner = std::function<std::optional<int>(const KorvoHost::HostOptions&)>;

// Adds "script" to the command line.
SubcommandRunner AddScriptCommand(CLI::App& cli);

}  // namespace KorvoCli
