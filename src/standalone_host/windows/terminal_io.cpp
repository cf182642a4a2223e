#include "standalone_host/windows/terminal_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace KorvoHost {
namespace {

volatile sig_atomic_t gInterrupts = 0;  // Ctrl-C since the last reset
volatile sig_atomic_t gTaken = 0;       // of those, picked up already
volatile sig_atomic_t gMode = static_cast<int>(InterruptMode::Other);
int gWake[2] = {-1, -1};
struct sigaction gPrevious {};
bool gInstalled = false;

void OnInterrupt(int) {
    const int saved = errno;
    gInterrupts = gInterrupts + 1;
    const auto mode = static_cast<InterruptMode>(gMode);
    if (mode == InterruptMode::Other || (mode == InterruptMode::Run && gInterrupts >= 2)) {
        // Leave the cursor on a fresh line; only async-signal-safe calls here.
        [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, "\n", 1);
        _exit(130);
    }
    if (gWake[1] >= 0) [[maybe_unused]]
        const ssize_t ignored = write(gWake[1], "!", 1);
    errno = saved;
}

void DrainWake() {
    if (gWake[0] < 0) return;
    char buffer[64];
    while (read(gWake[0], buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

InterruptGuard::InterruptGuard() {
    // Only the first guard takes the signal; the ones inside it leave it alone.
    if (gInstalled) return;
    owner_ = true;
    if (pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
    gInterrupts = 0;
    gTaken = 0;
    gMode = static_cast<int>(InterruptMode::Other);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a prompt blocked in the terminal must come back when the user interrupts.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, &gPrevious);
    gInstalled = true;
}

InterruptGuard::~InterruptGuard() {
    if (!owner_) return;
    sigaction(SIGINT, &gPrevious, nullptr);
    for (int& fd : gWake) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    gMode = static_cast<int>(InterruptMode::Other);
    gInstalled = false;
}

void SetInterruptMode(InterruptMode mode) { gMode = static_cast<int>(mode); }

bool TakeInterrupt() {
    const sig_atomic_t seen = gInterrupts;
    if (seen <= gTaken) return false;
    gTaken = seen;
    DrainWake();
    return true;
}

void ResetInterrupts() {
    gInterrupts = 0;
    gTaken = 0;
    DrainWake();
}

int InterruptWakeDescriptor() { return gWake[0]; }

TerminalIo::TerminalIo(int input, int output, bool isTerminal)
    : input_(input), output_(output), isTerminal_(isTerminal) {}

TerminalIo::Read TerminalIo::ReadLine(std::string& line) {
    for (;;) {
        if (const size_t end = pending_.find('\n'); end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return Read::Line;
        }
        if (TakeInterrupt()) return Read::Interrupted;
        if (ended_) {
            if (pending_.empty()) return Read::EndOfInput;
            line = std::move(pending_);
            pending_.clear();
            return Read::Line;
        }

        // Wait for input or for a Ctrl-C, whichever thread the signal was delivered to.
        pollfd fds[2] = {{input_, POLLIN, 0}, {InterruptWakeDescriptor(), POLLIN, 0}};
        const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            ended_ = true;
            continue;
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            if (TakeInterrupt()) return Read::Interrupted;
            DrainWake();
            continue;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        const ssize_t n = read(input_, buffer, sizeof buffer);
        if (n > 0) {
            pending_.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            ended_ = true;
        }
    }
}

void TerminalIo::Write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(output_, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // a closed terminal: nobody is left to read it
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}

int TerminalIo::Columns() const {
    winsize size{};
    if (isTerminal_ && ioctl(output_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

}  // namespace KorvoHost
