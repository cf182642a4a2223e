// The scripted front end: answers every dialog from a plan given in advance, and keeps a record
// of what the user would have seen. Tests and the non-interactive korvo command use it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "standalone_host/windows/front_end.h"

namespace KorvoHost {

class ScriptedFrontEnd : public FrontEnd {
  public:
    // One answer to a modal dialog: what the user does to it.
    using Act = std::function<void(HWND dialog)>;

    // The plan. Answers for a dialog template are used in the order given, one per time the
    // dialog waits; a dialog with no answer left is closed unanswered (and noted in Unanswered).
    void AnswerWith(int dialogId, Act act);
    void Press(int dialogId, int buttonId);
    void Close(int dialogId);
    // Checks the list items whose texts are given (every item when texts is empty and all is
    // set), then presses the button. A text no item has is noted in UnknownItems.
    void CheckAndPress(int dialogId, int listId, std::vector<std::wstring> texts, int buttonId);
    void CheckAllAndPress(int dialogId, int listId, int buttonId);
    // The folder browser's answers, in order; nothing cancels the browser.
    void Folder(std::optional<std::wstring> path);
    // Presses the button of the shown modeless dialog once this many frames have started
    // rendering (1: during the first frame).
    void PressDuringRender(int dialogId, int buttonId, int afterFrames);

    // FrontEnd.
    Answer AnswerModal(HWND dialog) override;
    void WindowShown(HWND window) override;
    void PollInput() override;
    std::optional<std::wstring> BrowseForFolder(std::wstring_view title,
                                                std::wstring_view initialFolder) override;
    void Open(std::wstring_view verb, std::wstring_view target) override;
    void RenderStarted(std::wstring_view cameraName, int width, int height) override;

    // The record.
    struct Shown {
        int dialogId;  // template id, 0 for windows without one
        bool modal;
        std::wstring caption;
        std::vector<std::wstring> texts;  // the texts of its static controls, in template order
    };
    struct Browse {
        std::wstring title, initialFolder;
    };
    struct Opened {
        std::wstring verb, target;
    };
    struct Frame {
        std::wstring camera;
        int width, height;
    };
    const std::vector<Shown>& ShownDialogs() const { return shown_; }
    // Template ids of the dialogs shown, in order.
    std::vector<int> ShownIds() const;
    const std::vector<Browse>& Browses() const { return browses_; }
    const std::vector<Opened>& Opens() const { return opens_; }
    const std::vector<Frame>& Frames() const { return frames_; }
    const std::vector<int>& Unanswered() const { return unanswered_; }
    const std::vector<std::wstring>& UnknownItems() const { return unknownItems_; }
    // The browser asked for a folder after the plan's folders ran out.
    bool BrowserUnanswered() const { return browserUnanswered_; }

  private:
    std::map<int, std::deque<Act>> answers_;
    std::deque<std::optional<std::wstring>> folders_;
    struct RenderPress {
        int dialogId, buttonId, afterFrames;
        bool done = false;
    };
    std::vector<RenderPress> renderPresses_;

    std::vector<Shown> shown_;
    std::vector<Browse> browses_;
    std::vector<Opened> opens_;
    std::vector<Frame> frames_;
    std::vector<int> unanswered_;
    std::vector<std::wstring> unknownItems_;
    bool browserUnanswered_ = false;
};

}  // namespace KorvoHost
