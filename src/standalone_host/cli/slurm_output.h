// Reading what Slurm's commands print for a job array, and what a farm task wrote to its output
// file. Pure text handling: nothing here runs a command or touches a file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KorvoCli {

// Where a camera of a farm job stands.
enum class TaskState { Pending, Running, Done, Failed };

const char* TaskStateName(TaskState state);

// A Slurm job state ("COMPLETED", "CANCELLED by 0", "NODE_FAIL", …) as a camera's state. Tasks
// Slurm will run again (requeued, held) are pending; states Slurm may add later count as running,
// so that nothing is reported finished before it is.
TaskState StateFromSlurm(std::string_view slurmState);

// What Slurm says about one or more tasks of an array: one record per task, or one record for a
// range of tasks that have not started yet.
struct TaskRecord {
    std::vector<int> taskIds;  // the array indices the record stands for
    std::string state;         // Slurm's job state, as printed
    std::string exitCode;      // "0:0" (exit status : signal)
    std::string workDir;       // the job's working folder
    std::string reason;        // why a pending task waits, or why a task ended ("None" when none)
};

// The array indices of an ArrayTaskId or a sacct job id's brackets: "3", "0-4", "0-7%2" (at most
// two at once), "1,3-5". Empty for anything else.
std::vector<int> ExpandTaskIds(std::string_view ids);

// `scontrol -o show job JOBID`: one line per record, "Key=Value" fields separated by spaces; a
// value may hold spaces (a folder's name), so a word without "=" belongs to the value before.
// Records of other jobs and lines without an array index are skipped.
std::vector<TaskRecord> ParseScontrolJobs(std::string_view text, std::string_view jobId);

// `sacct -X -n -P -j JOBID -o JobID,State,ExitCode,WorkDir`: "12_3|COMPLETED|0:0|/dir" and
// "12_[4-6]|PENDING|0:0|/dir" lines; lines of other jobs are skipped.
std::vector<TaskRecord> ParseSacctJobs(std::string_view text, std::string_view jobId);

// `sbatch --parsable` prints "JOBID" or "JOBID;CLUSTER". The job id, or nothing when the text is
// not that.
std::optional<std::string> ParseSubmittedJobId(std::string_view text);

// Whether a command-line argument is a job id korvo farm status takes: digits only.
bool IsJobId(std::string_view text);

// From a task's output file (`korvo generate`'s output and Slurm's own notes): the panoramas the
// task wrote, and the message to show for a task that failed: korvo's last error, else Slurm's,
// else the last line.
std::vector<std::string> PanoramasInTaskOutput(std::string_view text);
std::string FailureInTaskOutput(std::string_view text);

}  // namespace KorvoCli
