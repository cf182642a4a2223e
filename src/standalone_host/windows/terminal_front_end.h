// The terminal front end: shows each dialog on the terminal and asks the person (numbered
// choices, a check list, a folder prompt, a live progress bar on stderr; Ctrl-C presses the
// progress window's Cancel, a second Ctrl-C ends the program with status 130).
#pragma once

#include <memory>

#include "standalone_host/windows/front_end.h"
#include "standalone_host/windows/terminal_progress.h"

namespace KorvoHost {

struct TerminalOptions {
    int input = 0;   // prompts read lines from here
    int output = 2;  // dialogs, prompts and the progress bar go here
    // Redraw the progress bar in place; by default when output is a TTY.
    enum class Redraw { Auto, InPlace, Lines } redraw = Redraw::Auto;
    // Take over SIGINT while the front end lives (one front end at a time).
    bool handleInterrupt = true;
    SteadyClock clock;  // steady_clock::now when empty
};

// A front end that takes every answer `given` has (the answers of the command line: its
// AnswerModal answering Acted, its BrowseForFolder a path) and asks the person on the terminal for
// the rest; every notification reaches `given` as well. `given` must outlive the front end.
std::unique_ptr<FrontEnd> MakeTerminalFrontEnd(FrontEnd& given);
std::unique_ptr<FrontEnd> MakeTerminalFrontEnd(FrontEnd& given, const TerminalOptions& options);

}  // namespace KorvoHost
