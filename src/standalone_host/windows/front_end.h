// How a person sees and answers the host's windows: the scripted front end answers from a list
// given in advance, the terminal front end asks on a terminal. Without a front end every modal
// dialog is closed unanswered.
#pragma once

#include <string_view>

#include "host/win32_window.h"

namespace KorvoHost {

class FrontEnd {
  public:
    enum class Answer { Acted, NoAnswer };
    virtual ~FrontEnd() = default;

    // A modal dialog waits for the user: act on it once (through the functions of
    // user_actions.h) and answer Acted, or answer NoAnswer when there is nothing to say.
    virtual Answer AnswerModal(HWND dialog) = 0;

    virtual void WindowShown(HWND window) {}
    virtual void WindowDestroyed(HWND window) {}
    // A control changed its text, state or position.
    virtual void WindowChanged(HWND window) {}
    // The system lets pending input through (during renders): a front end may post messages now.
    virtual void PollInput() {}
    // A document, folder or web address to open for the user.
    virtual void Open(std::wstring_view verb, std::wstring_view target) {}
};

FrontEnd& CurrentFrontEnd();
// Installs the front end (not owned); null restores the one that answers nothing.
void SetFrontEnd(FrontEnd* frontEnd);

}  // namespace KorvoHost
