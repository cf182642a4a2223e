// korvo farm submit|status|wait: the picked cameras of a scene as one Slurm job array, one task
// per camera, each task a `korvo generate` of its camera. Slurm schedules; korvo writes the job
// and reads back what Slurm says of it.
#pragma once

#include <CLI/CLI.hpp>

#include "standalone_host/cli/script_command.h"

namespace KorvoCli {

// Adds "farm" and its subcommands to the command line. separatorGiven: the command line holds
// "--", after which the words go to sbatch as they are.
SubcommandRunner AddFarmCommand(CLI::App& cli, bool separatorGiven);

}  // namespace KorvoCli
