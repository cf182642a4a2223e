// How a person sees and answers the host's windows: the scripted front end answers from a plan
// given in advance, the terminal front end asks on a terminal. Without a front end every modal
// dialog is closed unanswered and every folder browser is cancelled.
//
// A front end sees every dialog generically, through its controls (window_manager.h: Window,
// its children, their kinds, texts, states, list items, progress positions, link addresses) and
// acts on it through user_actions.h. It never needs to know which dialog of which plug-in it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/win32_window.h"

namespace KorvoHost {

class FrontEnd {
  public:
    enum class Answer { Acted, NoAnswer };
    virtual ~FrontEnd() = default;

    // A modal dialog waits for the user: act on it once (through the functions of
    // user_actions.h) and answer Acted, or answer NoAnswer when there is nothing to say (the
    // dialog is then closed as with its close box).
    virtual Answer AnswerModal(HWND dialog) = 0;

    // A dialog or page became visible (modal dialogs too, before AnswerModal), or was destroyed.
    virtual void WindowShown(HWND window) {}
    virtual void WindowDestroyed(HWND window) {}
    // A control changed its text, state, enabled state, style, or a progress bar its position or
    // marquee.
    virtual void WindowChanged(HWND window) {}
    // The system lets pending input through (during renders, many times a second): a front end
    // may post messages now, for example press the progress window's Cancel.
    virtual void PollInput() {}

    // The host's folder browser asks for a folder: answer a path (typed or picked), or nothing
    // to cancel the browser. initialFolder is the folder the browser shows selected (may be
    // empty). A path that does not name an existing folder is refused by the browser's owner
    // (it usually shows an error dialog meanwhile) and the browser asks again with the same
    // arguments; a front end with no other answer then answers nothing.
    virtual std::optional<std::wstring> BrowseForFolder(std::wstring_view title,
                                                        std::wstring_view initialFolder) {
        return std::nullopt;
    }

    // The host's shell opens something for the user. target is a local path for files and
    // folders (a "file://" link already turned into the path it names) and the address itself
    // for web pages; verb is the shell verb ("open", or empty for the default one).
    virtual void Open(std::wstring_view verb, std::wstring_view target) {}

    // The host's prompt line under the viewports changed (the renderer sets it while it works).
    virtual void PromptChanged(std::wstring_view text) {}
    // The host's renderer starts a frame of width × height seen through the named camera node;
    // a cube run renders six or twelve frames per camera in a row.
    virtual void RenderStarted(std::wstring_view cameraName, int width, int height) {}
};

FrontEnd& CurrentFrontEnd();
// Installs the front end (not owned); null restores the one that answers nothing.
void SetFrontEnd(FrontEnd* frontEnd);

}  // namespace KorvoHost
