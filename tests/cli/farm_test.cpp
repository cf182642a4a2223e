// korvo farm: what submit checks and hands to sbatch, and (FarmSlow) whole jobs on a one-node
// Slurm cluster that the test starts under a temporary folder.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/korvo_command.h"
#include "standalone_host/image_files/image_files.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using KorvoTest::Korvo;
using KorvoTest::Quote;
using KorvoTest::ReadFile;
using Result = KorvoTest::CommandResult;
using namespace std::chrono_literals;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Runs a shell command line; stdin from /dev/null, stdout and stderr together.
Result Shell(const std::string& command) {
    Result result;
    FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The example room with its models, copied as a user puts a scene on shared storage.
fs::path CopyRoom(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy(fs::path(KORVO_EXAMPLES) / "room.json", folder / "room.json");
    fs::copy(fs::path(KORVO_EXAMPLES) / "models", folder / "models", fs::copy_options::recursive);
    return folder / "room.json";
}

class Farm : public ::testing::Test {
  protected:
    std::string Options() { return "--temp-dir " + Quote((temp_.path() / "host").string()); }

    // A stand-in for sbatch, found first on PATH: it keeps its arguments, one a line, in
    // arguments() and runs the shell text given.
    void FakeSbatch(const std::string& then) {
        fs::create_directories(temp_.path() / "bin");
        std::ofstream(temp_.path() / "bin" / "sbatch")
            << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > " << Quote(Arguments().string())
            << "\n"
            << then << "\n";
        fs::permissions(temp_.path() / "bin" / "sbatch", fs::perms::owner_all);
    }
    fs::path Arguments() const { return temp_.path() / "arguments"; }
    // korvo with the stand-in sbatch.
    Result KorvoWithSbatch(const std::string& arguments) {
        return Shell("env PATH=" + Quote((temp_.path() / "bin").string() + ":/usr/bin:/bin") + " " +
                     Quote(KORVO_COMMAND) + " " + Options() + " " + arguments);
    }

    KorvoTest::TempDir temp_;
};

TEST_F(Farm, SubmitRefusesWhatGenerateRefusesBeforeAnythingIsQueued) {
    const fs::path out = temp_.path() / "out";
    const std::string room = Quote(std::string(KORVO_EXAMPLES) + "/room.json");
    struct Case {
        std::string arguments;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {room + " --camera Cam_Free --camera Cam_Nope", 2,
         "no camera Cam_Nope; its cameras: Cam_Free, Cam_Target"},
        {room, 2, "--camera NAME"},
        {room + " --all-cameras --renderer vray_rt", 1, "VRay RT is not supported."},
        {room + " --all-cameras --renderer povray", 2, "povray"},
        {room + " extra --all-cameras", 2, "pass options for sbatch after --"},
    };
    FakeSbatch("exit 1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r =
            KorvoWithSbatch("farm submit " + c.arguments + " -o " + Quote(out.string()));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_TRUE(Contains(r.output, c.message)) << r.output;
        EXPECT_FALSE(fs::exists(out / "korvo_farm")) << "a job was written";
    }
    EXPECT_FALSE(fs::exists(Arguments())) << "sbatch ran";

    // The empty scene is refused with the plug-in's message, as Generate refuses it.
    const fs::path empty = temp_.path() / "empty.json";
    std::ofstream(empty) << R"({"nodes": []})";
    Result r =
        KorvoWithSbatch("farm submit " + Quote(empty.string()) + " -o " + Quote(out.string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(Contains(r.output, "doesn't have any cameras")) << r.output;
    EXPECT_TRUE(Contains(r.output, "(2)")) << r.output;

    // sbatch refusing the job leaves no job behind.
    r = KorvoWithSbatch("farm submit " + room + " --all-cameras -o " + Quote(out.string()));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(Contains(r.output, "sbatch did not take the job")) << r.output;
    EXPECT_TRUE(fs::exists(Arguments()));
    EXPECT_TRUE(fs::is_empty(out / "korvo_farm")) << "the refused job's folder stayed";
}

TEST_F(Farm, SubmitHandsSbatchOneArrayAndARecordOfItsCameras) {
    // Answering as `sbatch --parsable` does.
    FakeSbatch("echo '4021;cluster'");
    const fs::path shared = temp_.path() / "shared space";
    const fs::path scene = CopyRoom(shared);
    const fs::path out = shared / "renders";
    const Result r =
        KorvoWithSbatch("farm submit " + Quote(scene.string()) + " -o " + Quote(out.string()) +
                        " --camera Cam_Target --camera Cam_Free --camera Cam_Target"
                        " --renderer mental_ray --partition render --cpus-per-task 4"
                        " -- --time=30 --mem=2G");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(Lines(r.output).front(), "4021") << "the job id alone on the first line";

    const std::vector<std::string> argv = Lines(ReadFile(Arguments()));
    ASSERT_FALSE(argv.empty());
    const fs::path script = argv.back();
    const fs::path job = script.parent_path();
    EXPECT_EQ(job.parent_path(), out / "korvo_farm");
    const std::vector<std::string> expected = {
        "--parsable",
        "--array=0-1",
        "--requeue",
        "--job-name=korvo-room",
        "--chdir=" + job.string(),
        "--output=" + (job / "task-%a.out").string(),
        "--partition=render",
        "--cpus-per-task=4",
        "--time=30",
        "--mem=2G",
        script.string(),
    };
    EXPECT_EQ(argv, expected);

    // The cameras in the order asked, each once; every path absolute.
    const std::string manifest = ReadFile(job / "job.json");
    EXPECT_TRUE(std::regex_search(
        manifest, std::regex(R"("cameras":\s*\[\s*"Cam_Target",\s*"Cam_Free"\s*\])")))
        << manifest;
    EXPECT_TRUE(Contains(manifest, "\"output\": \"" + out.string() + "\"")) << manifest;
    EXPECT_TRUE(Contains(manifest, "\"scene\": \"" + scene.string() + "\"")) << manifest;
    const std::string text = ReadFile(script);
    EXPECT_TRUE(Contains(text, "generate '" + scene.string() + "' --no-save -o '" + out.string() +
                                   "' --camera \"$camera\" --renderer 'mental_ray'"))
        << text;
    EXPECT_TRUE(fs::status(script).permissions() ==
                (fs::status(script).permissions() | fs::perms::owner_exec));
}

TEST_F(Farm, JobScriptRunsOnlyAsATaskOfItsArray) {
    FakeSbatch("echo 7");
    const fs::path out = temp_.path() / "out";
    ASSERT_EQ(KorvoWithSbatch("farm submit " + Quote(std::string(KORVO_EXAMPLES) + "/room.json") +
                              " --all-cameras -o " + Quote(out.string()))
                  .exitCode,
              0);
    const std::string script = Lines(ReadFile(Arguments())).back();
    for (const char* task : {"", "SLURM_ARRAY_TASK_ID=2", "SLURM_ARRAY_TASK_ID='0;reboot'"}) {
        SCOPED_TRACE(task);
        const Result r =
            Shell("env -u SLURM_ARRAY_TASK_ID " + std::string(task) + " bash " + Quote(script));
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_TRUE(Contains(r.output, "korvo farm: ")) << r.output;
    }
    EXPECT_FALSE(fs::exists(out / "room_Cam_Free.jpg"));
}

TEST_F(Farm, StatusAndWaitTakeOnlyJobIds) {
    for (const char* bad : {"status abc", "wait 12_1", "status '1;true'"}) {
        const Result r = Korvo(std::string("farm ") + bad);
        EXPECT_EQ(r.exitCode, 2) << bad << ": " << r.output;
    }
    // No Slurm to ask (or one that knows no such job): named, and no wait.
    const Result r = Korvo("farm wait 987654321 --poll 0.1");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(Contains(r.output, "987654321")) << r.output;
}

// A batch system ends a task with SIGTERM (then SIGKILL a while later): generate cancels its
// run, which clears its working folder and leaves nothing half-made in the output folder.
TEST_F(Farm, GenerateCancelsItsRunOnSigterm) {
    const fs::path out = temp_.path() / "out";
    const fs::path host = temp_.path() / "host";
    const fs::path output = temp_.path() / "korvo-output";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        const int none = ::open("/dev/null", O_RDONLY);
        ::dup2(none, STDIN_FILENO);
        const std::string room = std::string(KORVO_EXAMPLES) + "/room.json";
        ::execl(KORVO_COMMAND, "korvo", "--temp-dir", host.c_str(), "generate", room.c_str(),
                "--no-save", "--camera", "Cam_Free", "-o", out.c_str(), nullptr);
        ::_exit(127);
    }
    bool rendering = false;
    for (auto until = std::chrono::steady_clock::now() + 120s;
         !rendering && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms))
        rendering = Contains(ReadFile(out / "korvo_log.txt"), "Rendering cube side: 1");
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(rendering) << ReadFile(output);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadFile(output);
    EXPECT_TRUE(Contains(ReadFile(output), "korvo: cancelled")) << ReadFile(output);
    std::vector<std::string> left;
    for (const fs::directory_entry& e : fs::directory_iterator(out))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"korvo_log.txt"});
    EXPECT_FALSE(fs::exists(host / "korvo_scratch"));
}

// A one-node Slurm cluster of the test's own under a temporary folder: munged with a fresh key
// and socket, slurmctld and slurmd on free ports, all run as root (no cgroups: the processes of a
// task are tracked through /proc). Stopped by their pids when it goes.
class SingleNodeCluster {
  public:
    explicit SingleNodeCluster(fs::path folder) : folder_(std::move(folder)) {}
    ~SingleNodeCluster() { Stop(); }
    SingleNodeCluster(const SingleNodeCluster&) = delete;
    SingleNodeCluster& operator=(const SingleNodeCluster&) = delete;

    // Whether this machine has what the cluster needs; else why not.
    static std::string Missing() {
        for (const char* program :
             {"munged", "slurmctld", "slurmd", "sbatch", "scontrol", "scancel", "sinfo"})
            if (Program(program).empty()) return std::string(program) + " is not installed";
        if (::geteuid() != 0) return "the test cluster runs its daemons as root";
        return {};
    }

    // Starts the daemons and waits for the node to take jobs.
    bool Start(std::string* error) {
        // munged wants its socket's folder open to all, its key's folder closed to all.
        const fs::path munge = folder_ / "munge", key = folder_ / "munge-key";
        fs::create_directories(munge);
        fs::create_directories(key);
        fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        fs::permissions(munge, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        fs::permissions(key, fs::perms::owner_all);
        {
            std::random_device random;
            std::string bytes(1024, '\0');
            for (char& c : bytes) c = static_cast<char>(random());
            std::ofstream(key / "munge.key", std::ios::binary) << bytes;
        }
        fs::permissions(key / "munge.key", fs::perms::owner_read);
        const fs::path socket = munge / "munge.socket";
        pidFiles_.push_back(munge / "munged.pid");
        if (!Daemon(Quote(Program("munged")) +
                        " --key-file=" + Quote((key / "munge.key").string()) +
                        " --socket=" + Quote(socket.string()) +
                        " --log-file=" + Quote((munge / "munged.log").string()) +
                        " --pid-file=" + Quote(pidFiles_.back().string()) +
                        // --se: the unambiguous abbreviation of munged's option for the file it
                        // keeps its random state in, here in the cluster's folder rather than
                        // in /var/lib/munge.
                        " --se=" + Quote((munge / "munged.random").string()),
                    error))
            return false;

        char name[256] = {};
        ::gethostname(name, sizeof name - 1);
        const std::string host = std::string(name).substr(0, std::string(name).find('.'));
        const unsigned cpus = std::max(std::thread::hardware_concurrency(), 1u);
        const fs::path conf = folder_ / "slurm.conf";
        const auto path = [&](const char* name) { return (folder_ / name).string(); };
        fs::create_directories(folder_ / "state");
        fs::create_directories(folder_ / "spool");
        std::ofstream(conf) << "ClusterName=korvotest\n"
                            << "SlurmctldHost=" << host << "(127.0.0.1)\n"
                            << "SlurmctldPort=" << FreePort() << "\n"
                            << "SlurmdPort=" << FreePort() << "\n"
                            << "AuthType=auth/munge\nCredType=cred/munge\n"
                            << "AuthInfo=socket=" << socket.string() << "\n"
                            << "SlurmUser=root\nSlurmdUser=root\n"
                            << "StateSaveLocation=" << path("state") << "\n"
                            << "SlurmdSpoolDir=" << path("spool") << "\n"
                            << "SlurmctldPidFile=" << path("slurmctld.pid") << "\n"
                            << "SlurmdPidFile=" << path("slurmd.pid") << "\n"
                            << "SlurmctldLogFile=" << path("slurmctld.log") << "\n"
                            << "SlurmdLogFile=" << path("slurmd.log") << "\n"
                            << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
                            << "JobAcctGatherType=jobacct_gather/none\n"
                            << "AccountingStorageType=accounting_storage/none\n"
                            << "JobCompType=jobcomp/none\nMpiDefault=none\nSwitchType=switch/none\n"
                            << "SchedulerType=sched/backfill\nSelectType=select/cons_tres\n"
                            << "SelectTypeParameters=CR_CPU\nSlurmdParameters=config_overrides\n"
                            << "ReturnToService=2\nMinJobAge=3600\nKillWait=30\n"
                            << "NodeName=" << host << " NodeAddr=127.0.0.1 CPUs=" << cpus
                            << " State=UNKNOWN\n"
                            << "PartitionName=farm Nodes=" << host
                            << " Default=YES MaxTime=INFINITE State=UP\n";
        ::setenv("SLURM_CONF", conf.c_str(), 1);
        pidFiles_.push_back(folder_ / "slurmctld.pid");
        if (!Daemon(Quote(Program("slurmctld")) + " -i", error)) return false;
        pidFiles_.push_back(folder_ / "slurmd.pid");
        if (!Daemon(Quote(Program("slurmd")) + " -N " + Quote(host), error)) return false;

        for (auto until = std::chrono::steady_clock::now() + 60s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(500ms)) {
            if (Shell("sinfo -h -N -o %T").output == "idle\n") return true;
        }
        *error = "the node did not come up: " + Shell("sinfo -N").output + Logs();
        return false;
    }

    std::string Logs() const {
        std::string logs;
        for (const char* name : {"slurmctld.log", "slurmd.log", "munge/munged.log"}) {
            const std::string text = ReadFile(folder_ / name);
            logs += std::string("\n--- ") + name + " ---\n" +
                    text.substr(text.size() > 3000 ? text.size() - 3000 : 0);
        }
        return logs;
    }

  private:
    static fs::path Program(const char* name) {
        for (const char* folder : {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"})
            if (::access((fs::path(folder) / name).c_str(), X_OK) == 0)
                return fs::path(folder) / name;
        return {};
    }

    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (fd >= 0) ::close(fd);
        return port;
    }

    // Runs a daemon that goes to the background by itself, and waits for its pid file.
    bool Daemon(const std::string& command, std::string* error) {
        const Result r = Shell(command);
        for (int i = 0; i < 100 && Pid(pidFiles_.back()) <= 0; ++i)
            std::this_thread::sleep_for(100ms);
        if (r.exitCode == 0 && Pid(pidFiles_.back()) > 0) return true;
        *error = command + " did not start: " + r.output + Logs();
        return false;
    }

    static pid_t Pid(const fs::path& file) {
        std::ifstream in(file);
        long pid = 0;
        in >> pid;
        return static_cast<pid_t>(pid);
    }

    // Whether the process runs still (a daemon's zombie is gone as far as we care).
    static bool Alive(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return false;
        const size_t close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
    }

    void Stop() {
        if (pidFiles_.size() == 3) {
            // No task may outlive the cluster: its slurmstepd would stay behind.
            Shell("scancel --me --full");
            for (int i = 0;
                 i < 60 && !Shell("squeue -h -t running,completing,pending").output.empty(); ++i)
                std::this_thread::sleep_for(500ms);
        }
        // The node first, the controller, then the credentials they use.
        for (auto file = pidFiles_.rbegin(); file != pidFiles_.rend(); ++file) {
            const pid_t pid = Pid(*file);
            if (pid <= 0) continue;
            ::kill(pid, SIGTERM);
            for (int i = 0; i < 100 && Alive(pid); ++i) std::this_thread::sleep_for(100ms);
            if (Alive(pid)) ::kill(pid, SIGKILL);
        }
        pidFiles_.clear();
        ::unsetenv("SLURM_CONF");
    }

    fs::path folder_;
    std::vector<fs::path> pidFiles_;  // in the order started
};

class FarmSlow : public Farm {
  protected:
    void SetUp() override {
        const std::string missing = SingleNodeCluster::Missing();
        if (!missing.empty()) GTEST_SKIP() << "no Slurm here: " << missing;
        cluster_ = std::make_unique<SingleNodeCluster>(temp_.path() / "cluster");
        std::string error;
        ASSERT_TRUE(cluster_->Start(&error)) << error;
        // Tasks make their working folders here; each must take its own away.
        fs::create_directories(temp_.path() / "node-tmp");
        ::setenv("TMPDIR", (temp_.path() / "node-tmp").c_str(), 1);
    }
    void TearDown() override {
        cluster_.reset();
        ::unsetenv("TMPDIR");
    }

    // Submits and answers the job id, or empty.
    std::string Submit(const std::string& arguments) {
        const Result r = Korvo(Options() + " farm submit " + arguments);
        EXPECT_EQ(r.exitCode, 0) << r.output << cluster_->Logs();
        return r.exitCode == 0 ? Lines(r.output).front() : std::string();
    }
    Result Wait(const std::string& jobId) {
        return Shell("timeout 600 " + Quote(KORVO_COMMAND) + " farm wait " + jobId + " --poll 0.5");
    }
    // What the last line shown for the camera says after its state, or why there is none.
    static std::string Detail(const std::string& output, const std::string& camera,
                              const std::string& state) {
        std::string detail = "(no line for " + camera + ")";
        const std::regex line("^" + camera + " +([a-z]+) +(.*)$");
        for (const std::string& text : Lines(output)) {
            std::smatch match;
            if (!std::regex_match(text, match, line)) continue;
            detail = match[1] == state ? match[2].str() : "(" + match[1].str() + ")";
        }
        return detail;
    }

    std::unique_ptr<SingleNodeCluster> cluster_;
};

// The mean colour of a strip cell.
struct Mean {
    double r = 0, g = 0, b = 0;
};
Mean CellMean(const KorvoHost::ImageRgba8& image, int cell) {
    Mean m;
    long n = 0;
    for (int y = 0; y < 1536; y += 8)
        for (int x = cell * 1536; x < (cell + 1) * 1536; x += 8) {
            const std::uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
            m.r += p[0], m.g += p[1], m.b += p[2], ++n;
        }
    m.r /= n, m.g /= n, m.b /= n;
    return m;
}

// A panorama of the room: a mono strip with the pale ceiling above and the brown floor below.
// Answers the mean colour of the left eye's six cells.
std::vector<Mean> ExpectRoomPanorama(const fs::path& file) {
    SCOPED_TRACE(file.string());
    KorvoHost::ImageRgba8 strip;
    if (!KorvoHost::ReadJpeg(file, strip)) {
        ADD_FAILURE() << "not a JPEG";
        return {};
    }
    EXPECT_EQ(strip.width, 12 * 1536);
    EXPECT_EQ(strip.height, 1536);
    if (strip.width != 12 * 1536 || strip.height != 1536) return {};
    std::vector<Mean> cells;
    for (int cell = 0; cell < 6; ++cell) {
        const Mean left = CellMean(strip, cell), right = CellMean(strip, cell + 6);
        EXPECT_NEAR(left.r, right.r, 1.0) << "cell " << cell << " differs between the eyes";
        EXPECT_NEAR(left.b, right.b, 1.0) << "cell " << cell << " differs between the eyes";
        cells.push_back(left);
    }
    constexpr int kTopCell = 2, kBottomCell = 3;
    const Mean top = cells[kTopCell], bottom = cells[kBottomCell];
    EXPECT_GT(top.r + top.g + top.b, bottom.r + bottom.g + bottom.b + 150) << "ceiling above";
    EXPECT_GT(bottom.r, bottom.g) << "the floor is brown";
    EXPECT_GT(bottom.g, bottom.b) << "the floor is brown";
    return cells;
}

TEST_F(FarmSlow, RoomCamerasAsOneJobArrayOnASingleNodeCluster) {
    const fs::path shared = temp_.path() / "shared";
    const fs::path scene = CopyRoom(shared);
    const fs::path out = shared / "renders";

    // A bad camera name: refused before anything is queued.
    Result r = Korvo(Options() + " farm submit " + Quote(scene.string()) + " -o " +
                     Quote(out.string()) + " --camera Cam_Free --camera Cam_Nope");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_TRUE(Contains(r.output, "no camera Cam_Nope")) << r.output;
    EXPECT_EQ(Shell("squeue -h").output, "") << "a job was queued";

    // Both cameras, one task each, side by side on the node.
    const auto start = std::chrono::steady_clock::now();
    const std::string job =
        Submit(Quote(scene.string()) + " -o " + Quote(out.string()) + " --all-cameras");
    ASSERT_FALSE(job.empty());
    r = Wait(job);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("two cameras as one job array: %.1f s from submit to the end of wait\n", seconds);
    ASSERT_EQ(r.exitCode, 0) << r.output << cluster_->Logs();
    std::vector<std::vector<Mean>> cells;
    for (const char* camera : {"Cam_Free", "Cam_Target"}) {
        const fs::path panorama = out / ("room_" + std::string(camera) + ".jpg");
        EXPECT_EQ(Detail(r.output, camera, "done"), panorama.string()) << r.output;
        cells.push_back(ExpectRoomPanorama(panorama));
    }
    // Each task rendered its own camera: the two stand in different places and look different
    // ways, so their side cells differ.
    ASSERT_EQ(cells[0].size(), 6u);
    ASSERT_EQ(cells[1].size(), 6u);
    double difference = 0;
    for (int cell = 0; cell < 6; ++cell)
        difference += std::abs(cells[0][cell].r - cells[1][cell].r) +
                      std::abs(cells[0][cell].g - cells[1][cell].g) +
                      std::abs(cells[0][cell].b - cells[1][cell].b);
    EXPECT_GT(difference, 30) << "both panoramas show the same view";
    // The tasks' log entries, written at once into one file, each whole on its line.
    const std::string log = ReadFile(out / "korvo_log.txt");
    const std::regex entry(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d: [^\r\n]*)");
    for (const std::string& line : Lines(log))
        EXPECT_TRUE(line.ends_with('\r') &&
                    std::regex_match(line.substr(0, line.size() - 1), entry))
            << "not one whole entry: " << line;
    EXPECT_TRUE(Contains(log, "Ended stitching of camera: Cam_Free\r\n")) << log;
    EXPECT_TRUE(Contains(log, "Ended stitching of camera: Cam_Target\r\n")) << log;

    // One task fails (its camera left the scene before it ran); the other panorama arrives
    // beside the first run's, under a new name.
    const std::string held =
        Submit(Quote(scene.string()) + " -o " + Quote(out.string()) + " --all-cameras -- --hold");
    ASSERT_FALSE(held.empty());
    std::string text = ReadFile(scene);
    const std::string name = "\"name\": \"Cam_Target\"";
    ASSERT_NE(text.find(name), std::string::npos);
    text.replace(text.find(name), name.size(), "\"name\": \"Cam_Moved\"");
    KorvoTest::WriteFile(scene, text);
    ASSERT_EQ(Shell("scontrol release " + held).exitCode, 0);
    r = Wait(held);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    const std::string failure = Detail(r.output, "Cam_Target", "failed");
    EXPECT_TRUE(
        failure.starts_with("FAILED, exit code 2:0: korvo: the scene has no camera "
                            "Cam_Target; its cameras: Cam_Free, Cam_Moved"))
        << r.output;
    const fs::path second = out / "room_Cam_Free (1).jpg";
    EXPECT_EQ(Detail(r.output, "Cam_Free", "done"), second.string()) << r.output;
    EXPECT_TRUE(fs::is_regular_file(second));

    // A task cancelled in the middle of its render leaves nothing half-made in the output folder.
    const fs::path cancelOut = shared / "cancelled";
    const std::string cancelled =
        Submit(Quote(scene.string()) + " -o " + Quote(cancelOut.string()) + " --camera Cam_Free");
    ASSERT_FALSE(cancelled.empty());
    bool rendering = false;
    for (auto until = std::chrono::steady_clock::now() + 120s;
         !rendering && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(200ms))
        rendering = Contains(ReadFile(cancelOut / "korvo_log.txt"), "Rendering cube side: 1");
    ASSERT_TRUE(rendering) << Shell(Quote(KORVO_COMMAND) + " farm status " + cancelled).output;
    ASSERT_EQ(Shell("scancel " + cancelled).exitCode, 0);
    r = Wait(cancelled);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(Detail(r.output, "Cam_Free", "failed").starts_with("CANCELLED")) << r.output;
    std::vector<std::string> left;
    for (const fs::directory_entry& e : fs::directory_iterator(cancelOut))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"korvo_farm", "korvo_log.txt"}));
    EXPECT_TRUE(Contains(ReadFile(cancelOut / "korvo_log.txt"), "Rendering camera: Cam_Free"));

    // Every task took its working folder away.
    EXPECT_TRUE(fs::is_empty(temp_.path() / "node-tmp"));
}

}  // namespace
