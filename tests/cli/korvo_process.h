// Runs the korvo command as a process of its own, for tests that watch a run while it goes on,
// hold it to a file-size limit or kill it part-way.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace KorvoTest {

class KorvoProcess {
  public:
    // Starts KORVO_COMMAND with these arguments; standard output and standard error go to
    // `outputFile`, standard input is empty. With `maxFileBytes` no file the process writes can
    // grow past that size: writes beyond it fail as on a full disk (SIGXFSZ is ignored).
    KorvoProcess(const std::vector<std::string>& arguments, std::filesystem::path outputFile,
                 rlim_t maxFileBytes = RLIM_INFINITY)
        : outputFile_(std::move(outputFile)) {
        std::vector<std::string> argv{KORVO_COMMAND};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ != 0) return;
        // Only async-signal-safe calls from here to exec.
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
            ::_exit(126);
        if (maxFileBytes != RLIM_INFINITY) {
            ::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
            const rlimit limit{maxFileBytes, maxFileBytes};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ~KorvoProcess() { Kill(); }
    KorvoProcess(const KorvoProcess&) = delete;
    KorvoProcess& operator=(const KorvoProcess&) = delete;

    bool Started() const { return pid_ > 0; }

    // Its exit code, 128 + the signal that ended it, or -1 when it runs past the timeout.
    int Wait(std::chrono::seconds timeout = std::chrono::seconds(300)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!Reap(WNOHANG) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return status_;
    }

    void Kill() {
        if (pid_ <= 0 || reaped_) return;
        ::kill(pid_, SIGKILL);
        Reap(0);
    }

    // Polls every few milliseconds until `done` holds (true) or the process ends or the time is
    // up (false).
    bool WaitUntil(const std::function<bool()>& done,
                   std::chrono::seconds timeout = std::chrono::seconds(300)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (done()) return true;
            if (Reap(WNOHANG)) return done();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // What it has written to standard output and standard error so far.
    std::string Output() const {
        std::ifstream file(outputFile_, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

  private:
    bool Reap(int options) {
        if (reaped_) return true;
        if (pid_ <= 0) return reaped_ = true;
        int status = 0;
        if (::waitpid(pid_, &status, options) != pid_) return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return reaped_ = true;
    }

    std::filesystem::path outputFile_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace KorvoTest
