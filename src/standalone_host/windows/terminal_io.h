// The terminal front end's side of the terminal: lines read from an input descriptor, text written
// to an output descriptor, and Ctrl-C turned from a signal into something the user-interface thread
// picks up when it is ready.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace KorvoHost {

class TerminalIo {
  public:
    enum class Read { Line, EndOfInput, Interrupted };

    // The descriptors stay the caller's. isTerminal: the output redraws in place (a TTY).
    TerminalIo(int input, int output, bool isTerminal);

    // Blocks for one line (without its line end). Interrupted when Ctrl-C came while waiting, or
    // had come before and was not picked up yet.
    Read ReadLine(std::string& line);
    void Write(std::string_view text);
    bool IsTerminal() const { return isTerminal_; }
    // Columns of the output terminal (80 when it does not say).
    int Columns() const;

  private:
    int input_, output_;
    bool isTerminal_;
    std::string pending_;
    bool ended_ = false;
};

// Ctrl-C for the whole process, while an InterruptGuard lives. What the signal does depends on
// what the user-interface thread said it is doing:
//   Prompt   the prompt that waits is interrupted (TerminalIo::ReadLine answers Interrupted);
//   Run      the first Ctrl-C is left for PollInput to pick up (TakeInterrupt), a second one
//            ends the program with status 130 at once;
//   Other    the program ends with status 130 at once, as it would without a handler.
enum class InterruptMode { Other, Prompt, Run };

class InterruptGuard {
  public:
    InterruptGuard();   // installs the handler
    ~InterruptGuard();  // restores the one before
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    bool owner_ = false;
};

void SetInterruptMode(InterruptMode mode);
// True once per Ctrl-C that came since the last call (while a guard lives).
bool TakeInterrupt();
// Forgets a Ctrl-C that was picked up, so that the next one counts as a first one again.
void ResetInterrupts();
// The descriptor a Ctrl-C makes readable (-1 without a guard); ReadLine waits on it.
int InterruptWakeDescriptor();

}  // namespace KorvoHost
