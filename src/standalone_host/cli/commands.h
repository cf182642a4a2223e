// The korvo command's subcommands.
#pragma once

namespace KorvoCli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the work could not be done (bad scene, missing plug-in, …)
constexpr int kExitUsage = 2;    // the command line was wrong

int Run(int argc, char** argv);

}  // namespace KorvoCli
