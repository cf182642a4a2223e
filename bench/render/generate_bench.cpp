// Whole processes of `korvo generate` on one camera of the example room at the default quality:
// mono (the scene's renderer, six faces) and stereo (mental ray, twelve faces), each run from
// start to exit. Real time is the figure to read; the counters give the child's CPU seconds.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs the command and waits for it; false when it could not start or did not exit with 0.
bool Run(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void BM_Generate(benchmark::State& state) {
    const bool stereo = state.range(0) != 0;
    const fs::path folder =
        fs::temp_directory_path() / ("korvo-generate-bench-" + std::to_string(::getpid()));
    std::vector<std::string> command{KORVO_BINARY,
                                     "--temp-dir",
                                     (folder / "host").string(),
                                     "generate",
                                     std::string(KORVO_EXAMPLES) + "/room.json",
                                     "--camera",
                                     "Cam_Free",
                                     "--no-save",
                                     "-o",
                                     (folder / "out").string()};
    if (stereo) command.insert(command.end(), {"--renderer", "mental_ray"});
    const double cpuBefore = ChildCpuSeconds();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        state.ResumeTiming();
        if (!Run(command)) {
            state.SkipWithError("korvo generate failed");
            break;
        }
    }
    fs::remove_all(folder);
    state.counters["child_cpu_s"] = benchmark::Counter(
        (ChildCpuSeconds() - cpuBefore) / double(std::max<std::int64_t>(state.iterations(), 1)));
}
BENCHMARK(BM_Generate)
    ->ArgName("stereo")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
