#include "standalone_host/cli/farm_command.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "standalone_host/cli/commands.h"
#include "standalone_host/cli/dialog_answers.h"
#include "standalone_host/cli/generate_command.h"
#include "standalone_host/cli/scene_summary.h"
#include "standalone_host/cli/slurm_output.h"
#include "standalone_host/core/host_app.h"
#include "standalone_host/platform/host_environment.h"
#include "standalone_host/platform/utf8.h"

extern char** environ;

namespace KorvoCli {
namespace {

namespace fs = std::filesystem;
using KorvoHost::ToUtf8;

constexpr const char* kJobsFolder = "korvo_farm";
constexpr const char* kManifestName = "job.json";
constexpr const char* kScriptName = "job.sh";

struct SubmitOptions {
    std::string scene;
    AnswerOptions answers;
    std::string partition;
    int cpusPerTask = 0;
    std::vector<std::string> sbatchOptions;
};

struct FollowOptions {
    std::string jobId;
    double pollSeconds = 5;
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "korvo: %s\n", message.c_str());
    return code;
}

// Running Slurm's commands

struct CommandOutput {
    int exitCode = -1;  // -1: could not be started, or ended by a signal
    std::string out, err;
};

// Runs a program found on PATH with the arguments as given (no shell), stdin from /dev/null, and
// collects what it prints.
CommandOutput RunProgram(const std::vector<std::string>& arguments) {
    CommandOutput result;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        result.err = std::strerror(errno);
        return result;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        result.err = std::strerror(errno);
        ::close(outPipe[0]), ::close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]), ::close(errPipe[0]);
        result.err = arguments[0] + ": " + std::strerror(spawned);
        return result;
    }

    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? "(no message)" : line;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "/usr/bin:/bin";
    while (true) {
        const size_t colon = folders.find(':');
        const fs::path folder(folders.substr(0, colon));
        if (!folder.empty() && ::access((folder / program).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        folders.remove_prefix(colon + 1);
    }
}

// The job

// What submit records beside the job script, so that status can name the camera of each task.
struct Manifest {
    std::string scene;
    std::string output;
    std::vector<std::string> cameras;  // array index -> camera
};

bool WriteManifest(const fs::path& file, const Manifest& manifest, std::string* error) {
    const nlohmann::json json = {
        {"scene", manifest.scene}, {"output", manifest.output}, {"cameras", manifest.cameras}};
    std::ofstream out(file, std::ios::binary);
    out << json.dump(2) << "\n";
    out.close();
    if (!out) *error = "cannot write " + file.string();
    return static_cast<bool>(out);
}

std::optional<Manifest> ReadManifest(const fs::path& file, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = "cannot read " + file.string();
        return std::nullopt;
    }
    const nlohmann::json json = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    Manifest manifest;
    if (json.is_object() && json.value("cameras", nlohmann::json()).is_array()) {
        manifest.scene = json.value("scene", "");
        manifest.output = json.value("output", "");
        for (const nlohmann::json& camera : json["cameras"])
            if (camera.is_string()) manifest.cameras.push_back(camera.get<std::string>());
        if (manifest.cameras.size() == json["cameras"].size()) return manifest;
    }
    *error = file.string() + " is not a korvo farm job record";
    return std::nullopt;
}

// A word for bash, single-quoted.
std::string ShellWord(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string JobScript(const Manifest& manifest, const KorvoHost::HostOptions& host,
                      const std::string& renderer) {
    std::string cameras;
    for (const std::string& camera : manifest.cameras) cameras += " " + ShellWord(camera);
    std::string korvo = ShellWord(KorvoHost::ProgramPath().string());
    if (!host.pluginFile.empty()) korvo += " --plugin " + ShellWord(host.pluginFile.string());
    if (!host.registryFile.empty()) korvo += " --registry " + ShellWord(host.registryFile.string());
    std::string generate = " generate " + ShellWord(manifest.scene) + " --no-save -o " +
                           ShellWord(manifest.output) + " --camera \"$camera\"";
    if (!renderer.empty()) generate += " --renderer " + ShellWord(renderer);

    std::string script = R"sh(#!/bin/bash
# Written by korvo farm submit: task N of the job array renders camera N of the list below with
# korvo generate, in a working folder of its own, into the shared output folder.
set -u
cameras=()sh" + cameras + R"sh( )
task=${SLURM_ARRAY_TASK_ID:-}
case "$task" in
    '' | *[!0-9]*)
        echo "korvo farm: not run as a task of a job array" >&2
        exit 1
        ;;
esac
camera=${cameras[$task]:-}
if [ -z "$camera" ]; then
    echo "korvo farm: task $task has no camera (the job has ${#cameras[@]})" >&2
    exit 1
fi
# The task's own working folder, on the node; never shared with another task.
work=$(mktemp -d "${TMPDIR:-/tmp}/korvo-farm-${SLURM_ARRAY_JOB_ID:-0}-$task-XXXXXX") || {
    echo "korvo farm: cannot make a working folder under ${TMPDIR:-/tmp}" >&2
    exit 1
}
pid=
trap 'rm -rf -- "$work"' EXIT
# Cancelling the job signals korvo too; it cancels its run, which then ends without leaving
# half-written files, and the script waits for that.
trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null' TERM
echo "Task $task: camera $camera on $(hostname)"
)sh" + korvo + " --temp-dir \"$work\"" +
                         generate + R"sh( &
pid=$!
while :; do
    wait "$pid"
    status=$?
    kill -0 "$pid" 2>/dev/null || break
done
exit "$status"
)sh";
    return script;
}

// A new folder for the job under the output folder: its script, its record and the tasks'
// output files.
fs::path MakeJobFolder(const fs::path& output, std::string* error) {
    const fs::path jobs = output / kJobsFolder;
    std::error_code made;
    fs::create_directories(jobs, made);
    if (made) {
        *error = "cannot create " + jobs.string() + ": " + made.message();
        return {};
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string pattern = (jobs / (std::string(stamp) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) {
        *error = "cannot create a job folder in " + jobs.string() + ": " + std::strerror(errno);
        return {};
    }
    // The tasks of other users' accounts may need to read the job's folder on shared storage.
    ::chmod(pattern.c_str(), 0755);
    return pattern;
}

std::vector<std::string> PickedCameras(const SceneSummary& summary, const AnswerOptions& answers) {
    std::vector<std::string> picked;
    if (answers.allCameras || answers.cameras.empty()) {
        // Without --camera the checks let only a scene of one camera through.
        for (const CameraSummary& camera : summary.cameras) picked.push_back(ToUtf8(camera.name));
        return picked;
    }
    for (const std::string& name : answers.cameras)
        if (std::find(picked.begin(), picked.end(), name) == picked.end()) picked.push_back(name);
    return picked;
}

int Submit(const KorvoHost::HostOptions& hostOptions, SubmitOptions options) {
    // The checks Generate makes, before anything is queued. Tasks never save the scene: they
    // share its file.
    std::error_code ignored;
    options.scene = fs::absolute(options.scene, ignored).lexically_normal().string();
    AnswerOptions& answers = options.answers;
    answers.save = false;
    fs::path output = fs::absolute(answers.output, ignored).lexically_normal();
    if (!output.has_filename()) output = output.parent_path();
    answers.output = output.string();

    KorvoHost::HostOptions host = hostOptions;
    if (!host.pluginFile.empty()) host.pluginFile = fs::absolute(host.pluginFile, ignored);
    if (!host.registryFile.empty()) host.registryFile = fs::absolute(host.registryFile, ignored);

    KorvoHost::HostApp app(host);
    std::string error;
    if (!app.LoadPlugin(&error)) return Fail(kExitFailure, error);
    if (!app.OpenScene(options.scene, &error)) return Fail(kExitFailure, error);
    if (const int refused = CheckGenerate(app, answers)) return refused;
    const std::vector<std::string> cameras = PickedCameras(Summarize(app.Core()), answers);

    if (!OnPath("sbatch"))
        return Fail(kExitFailure,
                    "sbatch is not on PATH: korvo farm needs Slurm's commands (Debian: "
                    "slurm-client) on a machine of the cluster");

    // The job's folder, script and record.
    const fs::path jobFolder = MakeJobFolder(output, &error);
    if (jobFolder.empty()) return Fail(kExitFailure, error);
    const Manifest manifest{options.scene, output.string(), cameras};
    const fs::path script = jobFolder / kScriptName;
    {
        std::ofstream out(script, std::ios::binary);
        out << JobScript(manifest, host, answers.renderer);
        out.close();
        if (!out || ::chmod(script.c_str(), 0755) != 0) {
            fs::remove_all(jobFolder, ignored);
            return Fail(kExitFailure, "cannot write " + script.string());
        }
    }
    if (!WriteManifest(jobFolder / kManifestName, manifest, &error)) {
        fs::remove_all(jobFolder, ignored);
        return Fail(kExitFailure, error);
    }

    // One job array, one task per camera. A task on a node that fails is queued again.
    const std::string stem = fs::path(options.scene).stem().string();
    std::vector<std::string> sbatch = {
        "sbatch",
        "--parsable",
        "--array=0-" + std::to_string(cameras.size() - 1),
        "--requeue",
        "--job-name=korvo-" + stem,
        "--chdir=" + jobFolder.string(),
        "--output=" + (jobFolder / "task-%a.out").string(),
    };
    if (!options.partition.empty()) sbatch.push_back("--partition=" + options.partition);
    if (options.cpusPerTask > 0)
        sbatch.push_back("--cpus-per-task=" + std::to_string(options.cpusPerTask));
    sbatch.insert(sbatch.end(), options.sbatchOptions.begin(), options.sbatchOptions.end());
    sbatch.push_back(script.string());
    const CommandOutput submitted = RunProgram(sbatch);
    const std::optional<std::string> jobId = ParseSubmittedJobId(submitted.out);
    if (submitted.exitCode != 0 || !jobId) {
        fs::remove_all(jobFolder, ignored);
        std::fputs(submitted.err.c_str(), stderr);
        return Fail(
            kExitFailure,
            "sbatch did not take the job" +
                (submitted.exitCode > 0 ? " (exit code " + std::to_string(submitted.exitCode) + ")"
                                        : std::string()));
    }

    std::string list;
    for (const std::string& camera : cameras) list += (list.empty() ? "" : ", ") + camera;
    std::printf("%s\n", jobId->c_str());
    std::fflush(stdout);
    std::fprintf(stderr,
                 "korvo: job %s: %zu task%s (%s) into %s\n"
                 "korvo: job folder %s\n"
                 "korvo: follow it with: korvo farm status %s   (or: korvo farm wait %s)\n",
                 jobId->c_str(), cameras.size(), cameras.size() == 1 ? "" : "s", list.c_str(),
                 output.c_str(), jobFolder.c_str(), jobId->c_str(), jobId->c_str());
    return kExitSuccess;
}

// Reading a job back

struct CameraStatus {
    std::string camera;
    TaskState state = TaskState::Pending;
    std::string detail;  // the panoramas, the failure, or why the task waits
};

struct JobStatus {
    std::string folder;
    std::vector<CameraStatus> cameras;
};

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Covers(const std::vector<TaskRecord>& records, int index) {
    return std::any_of(records.begin(), records.end(), [&](const TaskRecord& r) {
        return std::find(r.taskIds.begin(), r.taskIds.end(), index) != r.taskIds.end();
    });
}

const TaskRecord* RecordOf(const std::vector<TaskRecord>& records, int index) {
    for (const TaskRecord& r : records)
        if (std::find(r.taskIds.begin(), r.taskIds.end(), index) != r.taskIds.end()) return &r;
    return nullptr;
}

std::string FolderOf(const std::vector<TaskRecord>& records) {
    for (const TaskRecord& record : records)
        if (!record.workDir.empty()) return record.workDir;
    return {};
}

// The accounting records of tasks the controller no longer holds (it forgets ended jobs after
// a while), added to what it said; the controller's word is the fresher one.
void AddAccountedTasks(const std::string& jobId, std::vector<TaskRecord>& records,
                       std::string* accountingError) {
    const CommandOutput accounted =
        RunProgram({"sacct", "-X", "-n", "-P", "-j", jobId, "-o", "JobID,State,ExitCode,WorkDir"});
    if (accounted.exitCode != 0) {
        *accountingError = "sacct: " + FirstLine(accounted.err + accounted.out);
        return;
    }
    const size_t known = records.size();
    for (TaskRecord& record : ParseSacctJobs(accounted.out, jobId)) {
        std::erase_if(record.taskIds, [&](int id) {
            return std::any_of(records.begin(), records.begin() + known, [&](const TaskRecord& r) {
                return std::find(r.taskIds.begin(), r.taskIds.end(), id) != r.taskIds.end();
            });
        });
        if (!record.taskIds.empty()) records.push_back(std::move(record));
    }
}

CameraStatus CameraOf(const std::string& name, const TaskRecord* record, const fs::path& folder,
                      int index) {
    CameraStatus camera;
    camera.camera = name;
    const fs::path taskOutput = folder / ("task-" + std::to_string(index) + ".out");
    if (!record) {
        camera.state = TaskState::Failed;
        camera.detail = "Slurm no longer knows task " + std::to_string(index) + " (see " +
                        taskOutput.string() + ")";
        return camera;
    }
    camera.state = StateFromSlurm(record->state);
    switch (camera.state) {
        case TaskState::Pending:
            if (!record->reason.empty() && record->reason != "None")
                camera.detail = "(" + record->reason + ")";
            break;
        case TaskState::Running:
            break;
        case TaskState::Done: {
            // The task's output file says where korvo generate put the panorama.
            for (const std::string& panorama : PanoramasInTaskOutput(ReadText(taskOutput)))
                camera.detail += (camera.detail.empty() ? "" : " ") + panorama;
            if (camera.detail.empty())
                camera.detail = "(no panorama named in " + taskOutput.string() + ")";
            break;
        }
        case TaskState::Failed: {
            const std::string message = FailureInTaskOutput(ReadText(taskOutput));
            camera.detail = record->state + ", exit code " + record->exitCode +
                            (message.empty() ? "" : ": " + message) + " (" + taskOutput.string() +
                            ")";
            break;
        }
    }
    return camera;
}

// Where every camera of the job stands, as Slurm's controller (or, for what it has forgotten,
// its accounting) says; the job's record names the camera of each array index.
std::optional<JobStatus> QueryJob(const std::string& jobId, std::string* error) {
    const CommandOutput shown = RunProgram({"scontrol", "-o", "show", "job", jobId});
    std::vector<TaskRecord> records;
    if (shown.exitCode == 0) records = ParseScontrolJobs(shown.out, jobId);
    std::string accountingError;
    if (records.empty()) AddAccountedTasks(jobId, records, &accountingError);
    if (records.empty()) {
        const std::string why = (shown.exitCode == -1 && !OnPath("scontrol"))
                                    ? "scontrol is not on PATH"
                                    : "scontrol: " + FirstLine(shown.err + shown.out);
        *error = "Slurm knows no job array " + jobId + " (" + why +
                 (accountingError.empty() ? "" : "; " + accountingError) + ")";
        return std::nullopt;
    }

    JobStatus job;
    job.folder = FolderOf(records);
    std::optional<Manifest> manifest;
    if (!job.folder.empty()) manifest = ReadManifest(fs::path(job.folder) / kManifestName, error);
    if (!manifest) {
        *error = "job " + jobId + " was not submitted by korvo farm, or its folder is gone" +
                 (job.folder.empty() ? std::string() : ": " + *error);
        return std::nullopt;
    }
    const int count = static_cast<int>(manifest->cameras.size());
    bool covered = true;
    for (int index = 0; index < count; ++index) covered = covered && Covers(records, index);
    if (!covered && shown.exitCode == 0) AddAccountedTasks(jobId, records, &accountingError);
    for (int index = 0; index < count; ++index)
        job.cameras.push_back(
            CameraOf(manifest->cameras[index], RecordOf(records, index), job.folder, index));
    return job;
}

void PrintCamera(const CameraStatus& camera, size_t width) {
    std::printf("%-*s  %-7s  %s\n", static_cast<int>(width), camera.camera.c_str(),
                TaskStateName(camera.state), camera.detail.c_str());
    std::fflush(stdout);
}

size_t NameWidth(const JobStatus& job) {
    size_t width = 6;
    for (const CameraStatus& camera : job.cameras) width = std::max(width, camera.camera.size());
    return width;
}

bool Finished(const CameraStatus& camera) {
    return camera.state == TaskState::Done || camera.state == TaskState::Failed;
}

int Status(const FollowOptions& options) {
    std::string error;
    const std::optional<JobStatus> job = QueryJob(options.jobId, &error);
    if (!job) return Fail(kExitFailure, error);
    for (const CameraStatus& camera : job->cameras) PrintCamera(camera, NameWidth(*job));
    return kExitSuccess;
}

int Wait(const FollowOptions& options) {
    // Slurm's controller may be briefly out of reach (restarting, busy); a longer silence ends the
    // wait.
    constexpr int kMissedQueries = 12;
    std::vector<std::optional<std::pair<TaskState, std::string>>> shown;
    int missed = 0;
    while (true) {
        std::string error;
        const std::optional<JobStatus> job = QueryJob(options.jobId, &error);
        if (!job) {
            // A job id that never was one ends the wait at once.
            if (shown.empty() || ++missed >= kMissedQueries) return Fail(kExitFailure, error);
        } else {
            missed = 0;
            // A line for every camera whose state changed since it was last shown.
            shown.resize(job->cameras.size());
            for (size_t i = 0; i < job->cameras.size(); ++i) {
                const CameraStatus& camera = job->cameras[i];
                const auto now = std::make_pair(camera.state, camera.detail);
                if (shown[i] == now) continue;
                shown[i] = now;
                PrintCamera(camera, NameWidth(*job));
            }
            if (std::all_of(job->cameras.begin(), job->cameras.end(), Finished)) {
                const bool allDone =
                    std::all_of(job->cameras.begin(), job->cameras.end(),
                                [](const CameraStatus& c) { return c.state == TaskState::Done; });
                return allDone ? kExitSuccess : kExitFailure;
            }
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(options.pollSeconds));
    }
}

}  // namespace

SubcommandRunner AddFarmCommand(CLI::App& cli, bool separatorGiven) {
    CLI::App* farm = cli.add_subcommand(
        "farm",
        "Render a scene's cameras on a Slurm cluster: one job array, one task per camera, each "
        "task a 'korvo generate' of its camera into the shared output folder");
    farm->require_subcommand(1);
    farm->footer(
        "Every node needs the same korvo build at the same path, and the scene, its models and "
        "the output folder on shared storage (see the README).\n");

    auto submitOptions = std::make_shared<SubmitOptions>();
    CLI::App* submit = farm->add_subcommand(
        "submit",
        "Check the scene as 'korvo generate' would, write a job script into the output folder "
        "and submit one job array to Slurm; prints the job id");
    AddFileArgument(*submit, "SCENE", submitOptions->scene,
                    "Scene file (.json), on shared storage");
    submit
        ->add_option("SBATCH-OPTIONS", submitOptions->sbatchOptions,
                     "After --: options for sbatch, as they are (--time=1:00:00, --mem=8G, …)")
        ->option_text("-- OPTION…");
    submit
        ->add_option("-o,--output", submitOptions->answers.output,
                     "Output folder, on shared storage (made when missing)")
        ->required()
        ->option_text("DIR");
    CLI::Option* camera = submit
                              ->add_option("--camera", submitOptions->answers.cameras,
                                           "A camera to render (repeatable): one task each")
                              ->option_text("NAME")
                              ->expected(1)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    submit->add_flag("--all-cameras", submitOptions->answers.allCameras, "A task for every camera")
        ->excludes(camera);
    std::string rendererList;
    for (const std::string& name : RendererNames())
        rendererList += (rendererList.empty() ? "" : "|") + name;
    submit
        ->add_option("--renderer", submitOptions->answers.renderer,
                     "The renderer the tasks make current first (default: the scene's)")
        ->option_text(rendererList)
        ->check(CLI::IsMember(RendererNames()));
    submit->add_option("--partition", submitOptions->partition, "Slurm partition to run in")
        ->option_text("P");
    submit->add_option("--cpus-per-task", submitOptions->cpusPerTask, "CPUs Slurm gives each task")
        ->option_text("N")
        ->check(CLI::PositiveNumber);
    submit->footer(
        "Example:\n"
        "  korvo farm submit /shared/room.json -o /shared/renders --all-cameras -- --time=30\n");

    auto followOptions = std::make_shared<FollowOptions>();
    CLI::App* status = farm->add_subcommand(
        "status",
        "Per camera of a submitted job: pending, running, done (with its panorama) or "
        "failed (with the task's message)");
    CLI::App* wait = farm->add_subcommand(
        "wait",
        "Follow a submitted job until every task has ended, showing each camera as its state "
        "changes; exits 0 only when every camera's panorama was made");
    for (CLI::App* command : {status, wait}) {
        command->add_option("JOBID", followOptions->jobId, "The job id that submit printed")
            ->required()
            ->option_text("JOBID");
    }
    wait->add_option("--poll", followOptions->pollSeconds, "Seconds between queries to Slurm")
        ->option_text("SECONDS")
        ->check(CLI::Range(0.1, 3600.0));

    return [=](const KorvoHost::HostOptions& host) -> std::optional<int> {
        if (submit->parsed()) {
            if (!submitOptions->sbatchOptions.empty() && !separatorGiven)
                return Fail(kExitUsage,
                            "farm submit takes one scene; pass options for sbatch "
                            "after --");
            return Submit(host, *submitOptions);
        }
        if (status->parsed() || wait->parsed()) {
            if (!IsJobId(followOptions->jobId))
                return Fail(kExitUsage, "not a job id: " + followOptions->jobId);
            return status->parsed() ? Status(*followOptions) : Wait(*followOptions);
        }
        return std::nullopt;
    };
}

}  // namespace KorvoCli
