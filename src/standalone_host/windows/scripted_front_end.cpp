#include "standalone_host/windows/scripted_front_end.h"

#include <algorithm>

#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoHost {

void ScriptedFrontEnd::AnswerWith(int dialogId, Act act) {
    answers_[dialogId].push_back(std::move(act));
}

void ScriptedFrontEnd::Press(int dialogId, int buttonId) {
    AnswerWith(dialogId, [buttonId](HWND dialog) { PressButton(dialog, buttonId); });
}

void ScriptedFrontEnd::Close(int dialogId) {
    AnswerWith(dialogId, [](HWND dialog) { CloseWindow(dialog); });
}

void ScriptedFrontEnd::CheckAndPress(int dialogId, int listId, std::vector<std::wstring> texts,
                                     int buttonId) {
    AnswerWith(dialogId, [this, listId, texts = std::move(texts), buttonId](HWND dialog) {
        const HWND list = FindControl(dialog, listId);
        const int count = ItemCount(list);
        for (const std::wstring& text : texts) {
            bool found = false;
            for (int i = 0; i < count; ++i) {
                if (ItemText(list, i) != text) continue;
                SetItemChecked(list, i, true);
                found = true;
            }
            if (!found) unknownItems_.push_back(text);
        }
        PressButton(dialog, buttonId);
    });
}

void ScriptedFrontEnd::CheckAllAndPress(int dialogId, int listId, int buttonId) {
    AnswerWith(dialogId, [listId, buttonId](HWND dialog) {
        const HWND list = FindControl(dialog, listId);
        for (int i = 0, count = ItemCount(list); i < count; ++i) SetItemChecked(list, i, true);
        PressButton(dialog, buttonId);
    });
}

void ScriptedFrontEnd::Folder(std::optional<std::wstring> path) {
    folders_.push_back(std::move(path));
}

void ScriptedFrontEnd::PressDuringRender(int dialogId, int buttonId, int afterFrames) {
    renderPresses_.push_back({dialogId, buttonId, afterFrames});
}

FrontEnd::Answer ScriptedFrontEnd::AnswerModal(HWND dialog) {
    const int id = DialogId(dialog);
    auto it = answers_.find(id);
    if (it == answers_.end() || it->second.empty()) {
        unanswered_.push_back(id);
        return Answer::NoAnswer;
    }
    // Taken off the plan first: the answer may run a whole request that opens this dialog again.
    Act act = std::move(it->second.front());
    it->second.pop_front();
    act(dialog);
    return Answer::Acted;
}

void ScriptedFrontEnd::WindowShown(HWND window) {
    Window* w = FromHandle(window);
    if (!w || !w->resource) return;
    Shown shown{DialogId(window), w->modal, w->text, {}};
    for (Window* child : w->children)
        if (child->kind == WindowKind::Static) shown.texts.push_back(child->text);
    shown_.push_back(std::move(shown));
}

void ScriptedFrontEnd::PollInput() {
    for (RenderPress& press : renderPresses_) {
        if (press.done || static_cast<int>(frames_.size()) < press.afterFrames) continue;
        for (const HWND window : WindowManager::Instance().TopLevelWindows()) {
            if (DialogId(window) != press.dialogId || !IsWindowVisible(window)) continue;
            press.done = true;
            PressButton(window, press.buttonId);
            break;
        }
    }
}

std::optional<std::wstring> ScriptedFrontEnd::BrowseForFolder(std::wstring_view title,
                                                              std::wstring_view initialFolder) {
    browses_.push_back({std::wstring(title), std::wstring(initialFolder)});
    if (folders_.empty()) {
        browserUnanswered_ = true;
        return std::nullopt;
    }
    std::optional<std::wstring> answer = std::move(folders_.front());
    folders_.pop_front();
    return answer;
}

void ScriptedFrontEnd::Open(std::wstring_view verb, std::wstring_view target) {
    opens_.push_back({std::wstring(verb), std::wstring(target)});
}

void ScriptedFrontEnd::RenderStarted(std::wstring_view cameraName, int width, int height) {
    frames_.push_back({std::wstring(cameraName), width, height});
}

std::vector<int> ScriptedFrontEnd::ShownIds() const {
    std::vector<int> ids;
    for (const Shown& s : shown_) ids.push_back(s.dialogId);
    return ids;
}

}  // namespace KorvoHost
