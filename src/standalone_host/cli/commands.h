// The korvo command's subcommands.
#pragma once

#include <string>

#include "standalone_host/platform/host_environment.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace KorvoCli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the work could not be done (bad scene, missing plug-in, …)
constexpr int kExitUsage = 2;    // the command line was wrong

int Run(int argc, char** argv);

// The file a subcommand works on, as its required positional argument shown as `name` (SCENE,
// PANORAMA).
CLI::Option* AddFileArgument(CLI::App& command, const std::string& name, std::string& path,
                             const std::string& description);

// Taken by the subcommands that run the plug-in's work, once their host has its temporary
// folder: a second korvo run with the same folder says so and waits for the first to finish.
class WorkingFolderTurn {
  public:
    WorkingFolderTurn();

  private:
    KorvoHost::TempDirectoryLock lock_;
};

}  // namespace KorvoCli
