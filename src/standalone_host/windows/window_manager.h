// The standalone host's window manager: the windows and dialogs of the Win32-shaped layer, kept in
// memory. Dialogs are built from the templates in a module's resources; messages go to the
// module's window procedures; a front end decides how a person sees and answers them.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/win32_window.h"

namespace KorvoHost {

enum class WindowKind {
    Main,
    Panel,
    Dialog,
    Static,
    Button,
    CheckBox,
    ListView,
    ProgressBar,
    Link,
    FolderBrowser
};

struct ListViewItem {
    std::wstring text;
    bool textOnDemand = false;  // the owner supplies the text through LVN_GETDISPINFOW
    UINT state = 0;
    LPARAM lParam = 0;
};

struct Window {
    WindowKind kind = WindowKind::Static;
    std::wstring className;
    std::wstring text;
    int id = 0;
    DWORD style = 0;
    Window* parent = nullptr;
    std::vector<Window*> children;
    bool enabled = true;
    bool visible = false;
    LONG_PTR userData = 0;
    LONG_PTR messageResult = 0;

    // Dialogs.
    DLGPROC proc = nullptr;
    HINSTANCE module = nullptr;
    const DialogResource* resource = nullptr;
    bool modal = false;
    bool ended = false;
    INT_PTR endResult = 0;

    // Check boxes.
    bool checked = false;
    // Progress bars.
    int rangeMin = 0, rangeMax = 100, position = 0;
    bool marqueeRunning = false;
    // List views.
    DWORD extendedStyle = 0;
    std::vector<std::wstring> columns;
    std::vector<ListViewItem> items;
    COLORREF backColour = 0, textColour = 0, textBackColour = 0;
    // Links.
    std::wstring url;
    // Folder browsers: the folder shown selected.
    std::wstring selection;

    HWND handle() { return reinterpret_cast<HWND>(this); }
};

// The live window behind a handle, or null for a handle that names no live window.
Window* FromHandle(HWND handle);

class WindowManager {
  public:
    static WindowManager& Instance();

    // The host's main window and the command panel that holds rollup pages.
    HWND MainWindow();
    HWND CommandPanel();

    // Builds a dialog from a template of module's resources; sends WM_INITDIALOG.
    HWND CreateDialogWindow(HINSTANCE module, LPCWSTR templateName, HWND parent, DLGPROC proc,
                            LPARAM param, bool modal, WindowKind kind = WindowKind::Dialog);
    INT_PTR RunModal(HWND dialog);
    // The window of a folder browser while it runs (destroyed with Destroy).
    HWND CreateFolderBrowser(HWND owner, std::wstring_view title);
    void Destroy(HWND window);
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Peek(MSG* msg, bool remove);

    Window* Find(HWND handle) const;

    // Every live top-level window (dialogs and pages), oldest first.
    std::vector<HWND> TopLevelWindows() const;

    // Tells the front end a control changed (text, state, position).
    void Changed(Window& window);

  private:
    WindowManager() = default;
    Window& Make(WindowKind kind);
    LRESULT ControlMessage(Window& control, UINT message, WPARAM wParam, LPARAM lParam);
    void SetItemState(Window& list, int index, UINT state, UINT mask);
    // Sends NM_CUSTOMDRAW for the dialog's links, as painting them would.
    void PaintCustomDrawn(HWND dialog);

    std::unordered_map<Window*, std::unique_ptr<Window>> windows_;
    std::vector<Window*> topLevel_;
    std::deque<MSG> queue_;
    Window* main_ = nullptr;
    Window* commandPanel_ = nullptr;
};

// The template of a dialog in a module's resources, or null.
const DialogResource* FindDialogResource(HINSTANCE module, LPCWSTR templateName);

}  // namespace KorvoHost
