// Runs the korvo command in a pseudo-terminal, as a person at a terminal runs it: reads what it
// shows, types answers, presses Ctrl-C.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace KorvoTest {

class TerminalSession {
  public:
    // Starts KORVO_COMMAND with these arguments on a new terminal of 120 columns.
    explicit TerminalSession(const std::vector<std::string>& arguments) {
        winsize size{};
        size.ws_row = 40;
        size.ws_col = 120;
        pid_ = forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            std::vector<char*> argv;
            static std::string command = KORVO_COMMAND;
            argv.push_back(command.data());
            for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~TerminalSession() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    bool Started() const { return pid_ > 0 && master_ >= 0; }

    // Reads until the screen's text since the last expectation holds `text`; false on timeout
    // or when the program ends first. What was read stays in Transcript().
    bool Expect(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const size_t found = transcript_.find(text, mark_);
            if (found != std::string::npos) {
                mark_ = found + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
    }

    void Type(const std::string& text) { (void)!write(master_, text.data(), text.size()); }
    void PressCtrlC() { Type("\x03"); }

    // Waits for the program to end, reading what it still shows; its exit code, or -1.
    int Wait(std::chrono::seconds timeout = std::chrono::seconds(120)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                while (ReadSome(100)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ReadSome(100);
        }
        return -1;
    }

    const std::string& Transcript() const { return transcript_; }

  private:
    bool ReadSome(int milliseconds) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, milliseconds) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;  // EIO: the program closed the terminal
        transcript_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string transcript_;
    size_t mark_ = 0;
};

}  // namespace KorvoTest
