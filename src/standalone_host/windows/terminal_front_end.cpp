#include "standalone_host/windows/terminal_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/windows/user_actions.h"
#include "standalone_host/windows/window_manager.h"

namespace KorvoHost {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A control's text as a person reads it: no accelerator marks ("&OK") and no link markup.
std::string Label(const Window& control) {
    std::wstring out;
    const std::wstring& text = control.text;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && control.kind != WindowKind::Static) {
            if (i + 1 < text.size() && text[i + 1] == L'&') out += text[++i];
            continue;
        }
        if (text[i] == L'<' && control.kind == WindowKind::Link) {
            const size_t close = text.find(L'>', i);
            const std::wstring tag = text.substr(i, close == std::wstring::npos ? 0 : close - i);
            if (tag.rfind(L"<a", 0) == 0 || tag.rfind(L"</a", 0) == 0) {
                i = close;
                continue;
            }
        }
        out += text[i];
    }
    return ToUtf8(out);
}

bool IsChoice(const Window& control) {
    return control.visible &&
           (control.kind == WindowKind::Button || control.kind == WindowKind::CheckBox ||
            control.kind == WindowKind::Link);
}

bool IsDefault(const Window& control) {
    return control.kind == WindowKind::Button && (control.style & 0xF) == BS_DEFPUSHBUTTON;
}

bool IsCheckList(const Window& control) {
    return control.visible && control.kind == WindowKind::ListView &&
           (control.extendedStyle & LVS_EX_CHECKBOXES);
}

Window* FindChild(const Window& dialog, bool (*wanted)(const Window&)) {
    for (Window* child : dialog.children)
        if (wanted(*child)) return child;
    return nullptr;
}

bool IsProgressWindow(const Window& window) {
    return window.kind == WindowKind::Dialog && !window.modal &&
           FindChild(window, [](const Window& c) { return c.kind == WindowKind::ProgressBar; });
}

// The texts a dialog shows as they stand, one paragraph each.
std::vector<std::string> Texts(const Window& dialog) {
    std::vector<std::string> texts;
    for (const Window* child : dialog.children)
        if (child->visible && child->kind == WindowKind::Static && !child->text.empty())
            texts.push_back(ToUtf8(child->text));
    return texts;
}

std::vector<Window*> Choices(const Window& dialog) {
    std::vector<Window*> choices;
    for (Window* child : dialog.children)
        if (IsChoice(*child)) choices.push_back(child);
    return choices;
}

// Numbers and ranges ("1 3", "2-4", "1,2") within 1..count, or nothing when a token is neither.
std::optional<std::vector<int>> ParseNumbers(const std::string& text, int count) {
    std::string spaced = text;
    std::replace(spaced.begin(), spaced.end(), ',', ' ');
    std::istringstream tokens(spaced);
    std::vector<int> numbers;
    std::string token;
    while (tokens >> token) {
        int first = 0, last = 0;
        char dash = 0;
        std::istringstream part(token);
        if (!(part >> first)) return std::nullopt;
        if (part >> dash) {
            if (dash != '-' || !(part >> last)) return std::nullopt;
        } else {
            last = first;
        }
        std::string rest;
        if (part >> rest) return std::nullopt;
        if (first < 1 || last > count || first > last) return std::nullopt;
        for (int n = first; n <= last; ++n) numbers.push_back(n);
    }
    if (numbers.empty()) return std::nullopt;
    return numbers;
}

class TerminalFrontEnd final : public FrontEnd {
  public:
    TerminalFrontEnd(FrontEnd& given, const TerminalOptions& options)
        : given_(given),
          io_(options.input, options.output,
              options.redraw == TerminalOptions::Redraw::Auto
                  ? isatty(options.output) == 1
                  : options.redraw == TerminalOptions::Redraw::InPlace),
          progress_(io_,
                    options.clock ? options.clock : SteadyClock(&std::chrono::steady_clock::now)) {
        if (options.handleInterrupt) interrupts_.emplace();
    }

    ~TerminalFrontEnd() override { progress_.Finish(); }

    Answer AnswerModal(HWND dialog) override {
        if (given_.AnswerModal(dialog) == Answer::Acted) return Answer::Acted;
        Window* window = FromHandle(dialog);
        if (!window || inputEnded_) return Answer::NoAnswer;

        if (shown_ != dialog) {
            ShowTexts(*window);
            shown_ = dialog;
        }
        Window* list = FindChild(*window, IsCheckList);
        if (list)
            ShowCheckList(*window, *list);
        else
            ShowChoices(*window);

        std::string line;
        switch (Prompt(line)) {
            case TerminalIo::Read::EndOfInput:
                return Answer::NoAnswer;
            case TerminalIo::Read::Interrupted:
                CloseWindow(dialog);
                return Answer::Acted;
            case TerminalIo::Read::Line:
                break;
        }
        if (list)
            AnswerCheckList(*window, *list, Trim(line));
        else
            AnswerChoices(*window, Trim(line));
        return Answer::Acted;
    }

    std::optional<std::wstring> BrowseForFolder(std::wstring_view title,
                                                std::wstring_view initialFolder) override {
        if (auto answer = given_.BrowseForFolder(title, initialFolder)) return answer;
        if (inputEnded_) return std::nullopt;
        const std::string initial = ToUtf8(initialFolder);
        io_.Write("\n" + ToUtf8(title) + " (Ctrl-C cancels)\n");
        for (;;) {
            io_.Write(initial.empty() ? "Folder: " : "Folder [" + initial + "]: ");
            std::string line;
            if (Prompt(line) != TerminalIo::Read::Line) return std::nullopt;
            std::string path = Trim(line);
            if (path.empty()) path = initial;
            if (path.empty()) continue;
            return FromPath(ExpandFolder(path));
        }
    }

    void WindowShown(HWND handle) override {
        given_.WindowShown(handle);
        Window* window = FromHandle(handle);
        if (!window || window->kind != WindowKind::Dialog || window->modal) return;
        if (IsProgressWindow(*window)) {
            StartProgress(*window);
            return;
        }
        // A modeless dialog (an error, a notice) says what it has to say.
        io_.Write("\n");
        if (!window->text.empty()) io_.Write(ToUtf8(window->text) + ": ");
        for (const std::string& text : Texts(*window)) io_.Write(text + "\n");
    }

    void WindowDestroyed(HWND handle) override {
        given_.WindowDestroyed(handle);
        if (handle == shown_) shown_ = nullptr;
        if (handle == progressWindow_) {
            progress_.Finish();
            progressWindow_ = progressBar_ = nullptr;
            // Ctrl-C outside the run ends the program again; one pressed during it is spent.
            SetInterruptMode(InterruptMode::Other);
            ResetInterrupts();
        }
    }

    void WindowChanged(HWND handle) override {
        given_.WindowChanged(handle);
        if (!progressWindow_) return;
        Window* window = FromHandle(handle);
        if (!window || window->parent != FromHandle(progressWindow_)) return;
        if (handle == progressBar_)
            progress_.SetPosition(window->position, (window->style & PBS_MARQUEE) != 0);
        else
            progress_.Tick();
    }

    void PollInput() override {
        given_.PollInput();
        if (!progressWindow_) return;
        if (interrupts_ && TakeInterrupt()) PressCancel();
        progress_.Tick();
    }

    void Open(std::wstring_view verb, std::wstring_view target) override {
        given_.Open(verb, target);
        io_.Write("Opening " + ToUtf8(target) + "\n");
    }

    void PromptChanged(std::wstring_view text) override { given_.PromptChanged(text); }

    void RenderStarted(std::wstring_view camera, int width, int height) override {
        given_.RenderStarted(camera, width, height);
        progress_.RenderStarted(ToUtf8(camera));
    }

  private:
    TerminalIo::Read Prompt(std::string& line) {
        if (interrupts_) SetInterruptMode(InterruptMode::Prompt);
        const TerminalIo::Read read = io_.ReadLine(line);
        if (interrupts_) SetInterruptMode(InterruptMode::Other);
        // An interrupted or ended prompt leaves the cursor after the question.
        if (read != TerminalIo::Read::Line) io_.Write("\n");
        if (read == TerminalIo::Read::EndOfInput) inputEnded_ = true;
        return read;
    }

    void ShowTexts(const Window& dialog) {
        io_.Write("\n");
        if (!dialog.text.empty()) io_.Write("== " + ToUtf8(dialog.text) + " ==\n");
        for (const std::string& text : Texts(dialog)) io_.Write(text + "\n");
    }

    static std::string ChoiceLine(const Window& control) {
        std::string line = control.kind == WindowKind::CheckBox
                               ? std::string(control.checked ? "[x] " : "[ ] ") + Label(control)
                               : Label(control);
        if (!control.enabled) line += " (not available)";
        return line;
    }

    static const Window* DefaultButton(const Window& dialog) {
        for (const Window* child : dialog.children)
            if (child->visible && IsDefault(*child)) return child;
        return nullptr;
    }

    void ShowChoices(const Window& dialog) {
        const std::vector<Window*> choices = Choices(dialog);
        for (size_t i = 0; i < choices.size(); ++i)
            io_.Write("  " + std::to_string(i + 1) + ") " + ChoiceLine(*choices[i]) + "\n");
        io_.Write("  0) Close\n");
        std::string ask = "Choose";
        if (!choices.empty())
            ask += choices.size() == 1 ? " 1" : " 1-" + std::to_string(choices.size());
        if (const Window* button = DefaultButton(dialog); button && button->enabled)
            ask += ", Enter for " + Label(*button);
        io_.Write(ask + " (0 closes): ");
    }

    void ShowCheckList(const Window& dialog, Window& list) {
        const int count = ItemCount(list.handle());
        for (int i = 0; i < count; ++i) {
            io_.Write("  " + std::to_string(i + 1) + " " +
                      (IsItemChecked(list.handle(), i) ? "[x] " : "[ ] ") +
                      ToUtf8(ItemText(list.handle(), i)) + "\n");
        }
        std::string buttons;
        for (const Window* choice : Choices(dialog))
            buttons += (buttons.empty() ? "" : ", ") + ChoiceLine(*choice);
        io_.Write("Toggle by number (\"1 3\", \"2-4\", \"all\", \"none\"), then type " + buttons);
        if (const Window* button = DefaultButton(dialog); button && button->enabled)
            io_.Write(" (Enter: " + Label(*button) + ")");
        io_.Write(": ");
    }

    // The choice a person named: its number, or the start of its label ("cont" for "Continue").
    std::optional<Window*> NamedChoice(const Window& dialog, const std::string& answer,
                                       bool numbered) {
        const std::vector<Window*> choices = Choices(dialog);
        if (numbered && !answer.empty() &&
            std::all_of(answer.begin(), answer.end(),
                        [](unsigned char c) { return std::isdigit(c); })) {
            const long n = std::strtol(answer.c_str(), nullptr, 10);
            if (n == 0) return nullptr;
            if (n >= 1 && n <= static_cast<long>(choices.size())) return choices[n - 1];
            return std::nullopt;
        }
        const std::string wanted = Lower(answer);
        if (wanted == "close") return nullptr;
        Window* found = nullptr;
        for (Window* choice : choices) {
            const std::string label = Lower(Label(*choice));
            if (label == wanted) return choice;
            if (label.rfind(wanted, 0) == 0) {
                if (found) return std::nullopt;  // ambiguous
                found = choice;
            }
        }
        if (found) return found;
        return std::nullopt;
    }

    // Acts on a choice; null is the close box.
    void Choose(const Window& dialog, Window* choice) {
        const HWND handle = const_cast<Window&>(dialog).handle();
        if (!choice) {
            CloseWindow(handle);
            return;
        }
        if (!choice->enabled) {
            io_.Write("\"" + Label(*choice) + "\" is not available now.\n");
            return;
        }
        if (choice->kind == WindowKind::Link)
            ActivateLink(handle, choice->id);
        else
            PressButton(handle, choice->id);
    }

    void AnswerChoices(const Window& dialog, const std::string& answer) {
        if (answer.empty()) {
            if (const Window* button = DefaultButton(dialog)) {
                Choose(dialog, const_cast<Window*>(button));
                return;
            }
            return;
        }
        const std::optional<Window*> choice = NamedChoice(dialog, answer, true);
        if (!choice) {
            io_.Write("There is no choice \"" + answer + "\".\n");
            return;
        }
        Choose(dialog, *choice);
    }

    void AnswerCheckList(const Window& dialog, Window& list, const std::string& answer) {
        const int count = ItemCount(list.handle());
        if (answer.empty()) {
            if (const Window* button = DefaultButton(dialog))
                Choose(dialog, const_cast<Window*>(button));
            return;
        }
        const std::string lower = Lower(answer);
        if (lower == "all" || lower == "none") {
            for (int i = 0; i < count; ++i) SetItemChecked(list.handle(), i, lower == "all");
            return;
        }
        if (const auto numbers = ParseNumbers(answer, count)) {
            for (const int n : *numbers)
                SetItemChecked(list.handle(), n - 1, !IsItemChecked(list.handle(), n - 1));
            return;
        }
        if (const std::optional<Window*> choice = NamedChoice(dialog, answer, false)) {
            Choose(dialog, *choice);
            return;
        }
        io_.Write("Type item numbers from 1 to " + std::to_string(count) + ", or a button.\n");
    }

    static std::filesystem::path ExpandFolder(const std::string& typed) {
        std::filesystem::path path(typed);
        if (typed == "~" || typed.rfind("~/", 0) == 0) {
            if (const char* home = std::getenv("HOME"))
                path = std::filesystem::path(home) / typed.substr(typed.size() > 1 ? 2 : 1);
        }
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        return error ? path : absolute.lexically_normal();
    }

    void StartProgress(Window& window) {
        progressWindow_ = window.handle();
        Window* bar =
            FindChild(window, [](const Window& c) { return c.kind == WindowKind::ProgressBar; });
        progressBar_ = bar->handle();
        // The run renders the cameras checked in an open check list, if there is one.
        int checked = 0;
        for (const HWND top : WindowManager::Instance().TopLevelWindows()) {
            Window* other = FromHandle(top);
            if (Window* list = other ? FindChild(*other, IsCheckList) : nullptr)
                for (int i = 0; i < ItemCount(list->handle()); ++i)
                    checked += IsItemChecked(list->handle(), i) ? 1 : 0;
        }
        progress_.SetCameraCount(checked);
        std::string label;
        for (const std::string& text : Texts(window)) label += (label.empty() ? "" : " ") + text;
        io_.Write("\n");
        progress_.Start(label);
        if (interrupts_) {
            ResetInterrupts();
            SetInterruptMode(InterruptMode::Run);
        }
    }

    // Posts a press of the progress window's Cancel, for the run to see at its next look.
    void PressCancel() {
        Window* window = FromHandle(progressWindow_);
        if (!window) return;
        Window* cancel = nullptr;
        for (Window* child : window->children) {
            if (child->kind != WindowKind::Button) continue;
            if (!cancel || child->id == IDCANCEL || Lower(Label(*child)) == "cancel")
                cancel = child;
        }
        if (!cancel) return;
        PostMessageW(progressWindow_, WM_COMMAND,
                     MAKEWPARAM(static_cast<WORD>(cancel->id), BN_CLICKED),
                     reinterpret_cast<LPARAM>(cancel->handle()));
        progress_.Cancelling();
    }

    FrontEnd& given_;
    TerminalIo io_;
    ProgressDisplay progress_;
    std::optional<InterruptGuard> interrupts_;
    HWND shown_ = nullptr;  // the modal dialog whose texts are on the screen
    HWND progressWindow_ = nullptr, progressBar_ = nullptr;
    bool inputEnded_ = false;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeTerminalFrontEnd(FrontEnd& given) {
    return MakeTerminalFrontEnd(given, TerminalOptions{});
}

std::unique_ptr<FrontEnd> MakeTerminalFrontEnd(FrontEnd& given, const TerminalOptions& options) {
    return std::make_unique<TerminalFrontEnd>(given, options);
}

}  // namespace KorvoHost
