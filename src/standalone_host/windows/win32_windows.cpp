// The window, message, resource and shell functions of the Win32-shaped layer.
#include <algorithm>
#include <cwchar>
#include <string_view>

#include "standalone_host/windows/front_end.h"
#include "standalone_host/windows/shell_open.h"
#include "standalone_host/windows/window_manager.h"

using KorvoHost::FromHandle;
using KorvoHost::Window;
using KorvoHost::WindowKind;
using KorvoHost::WindowManager;

namespace {
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

Window* Live(HWND handle) {
    Window* window = FromHandle(handle);
    if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

// Copies text into a caller's buffer of bufferMax characters; answers the characters copied.
int CopyOut(std::wstring_view text, LPWSTR buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) return 0;
    const size_t n = std::min(text.size(), static_cast<size_t>(bufferMax - 1));
    std::copy_n(text.data(), n, buffer);
    buffer[n] = L'\0';
    return static_cast<int>(n);
}
}  // namespace

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    if (buffer && bufferMax > 0) buffer[0] = L'\0';
    if (!instance) return 0;
    const auto* resources =
        reinterpret_cast<const ModuleResources*>(GetProcAddress(instance, kModuleResourcesSymbol));
    if (!resources) return 0;
    for (size_t i = 0; i < resources->stringCount; ++i)
        if (resources->strings[i].id == id)
            return CopyOut(resources->strings[i].text, buffer, bufferMax);
    return 0;
}

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
    return WindowManager::Instance().CreateDialogWindow(instance, templateName, parent, proc,
                                                        initParam, false);
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
    auto& manager = WindowManager::Instance();
    const HWND dialog =
        manager.CreateDialogWindow(instance, templateName, parent, proc, initParam, true);
    if (!dialog) return -1;
    return manager.RunModal(dialog);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Window* window = Live(dialog);
    if (!window) return FALSE;
    window->ended = true;
    window->endResult = result;
    if (!window->modal) window->visible = false;
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    if (!Live(window)) return FALSE;
    WindowManager::Instance().Destroy(window);
    return TRUE;
}

BOOL IsWindow(HWND window) { return FromHandle(window) != nullptr; }

HWND GetDlgItem(HWND dialog, int id) {
    Window* window = Live(dialog);
    if (!window) return nullptr;
    for (Window* child : window->children)
        if (child->id == id) return child->handle();
    return nullptr;
}

int GetDlgCtrlID(HWND control) {
    Window* window = Live(control);
    return window ? window->id : 0;
}

HWND GetParent(HWND window) {
    Window* w = Live(window);
    return w && w->parent ? w->parent->handle() : nullptr;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    if (!Live(window)) return FALSE;
    WindowManager::Instance().Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    if (Window* w = FromHandle(window); w && w->kind != WindowKind::Static &&
                                        w->kind != WindowKind::Button &&
                                        w->kind != WindowKind::CheckBox) {
        w->text = text ? text : L"";
    }
    return TRUE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int bufferMax) {
    Window* w = Live(window);
    if (!w) return CopyOut(L"", buffer, bufferMax);
    return CopyOut(w->text, buffer, bufferMax);
}

int GetWindowTextLengthW(HWND window) {
    Window* w = Live(window);
    return w ? static_cast<int>(w->text.size()) : 0;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    const HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextW(control, text) : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    Window* w = Live(window);
    if (!w) return FALSE;
    const bool wasDisabled = !w->enabled;
    w->enabled = enable != FALSE;
    WindowManager::Instance().Changed(*w);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
    Window* w = Live(window);
    return w && w->enabled;
}

BOOL ShowWindow(HWND window, int command) {
    Window* w = Live(window);
    if (!w) return FALSE;
    const bool wasVisible = w->visible;
    w->visible = command != SW_HIDE;
    if (w->visible && !wasVisible) KorvoHost::CurrentFrontEnd().WindowShown(window);
    return wasVisible;
}

BOOL IsWindowVisible(HWND window) {
    Window* w = Live(window);
    return w && w->visible;
}

BOOL BringWindowToTop(HWND window) { return Live(window) != nullptr; }

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    Window* w = Live(window);
    if (!w) return 0;
    switch (index) {
        case GWL_STYLE:
            return static_cast<LONG_PTR>(w->style);
        case GWLP_USERDATA:
            return w->userData;
        case DWLP_MSGRESULT:
            return w->messageResult;
        default:
            return 0;
    }
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    Window* w = Live(window);
    if (!w) return 0;
    LONG_PTR old = 0;
    switch (index) {
        case GWL_STYLE:
            old = static_cast<LONG_PTR>(w->style);
            w->style = static_cast<DWORD>(value);
            if (old != value) WindowManager::Instance().Changed(*w);
            break;
        case GWLP_USERDATA:
            old = w->userData;
            w->userData = value;
            break;
        case DWLP_MSGRESULT:
            old = w->messageResult;
            w->messageResult = value;
            break;
        default:
            break;
    }
    return old;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowManager::Instance().Send(window, message, wParam, lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !Live(window)) return FALSE;
    WindowManager::Instance().Post(window, message, wParam, lParam);
    return TRUE;
}

BOOL PeekMessageW(MSG* msg, HWND, UINT, UINT, UINT removeMessage) {
    return WindowManager::Instance().Peek(msg, (removeMessage & PM_REMOVE) != 0);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return WindowManager::Instance().Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL IsDialogMessageW(HWND, MSG*) { return FALSE; }

COLORREF SetTextColor(HDC dc, COLORREF colour) {
    Window* control = Live(reinterpret_cast<HWND>(dc));
    if (!control) return 0xFFFFFFFF;  // CLR_INVALID
    const COLORREF old = control->textColour;
    control->textColour = colour;
    if (old != colour) WindowManager::Instance().Changed(*control);
    return old;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    return init && init->dwSize == sizeof(INITCOMMONCONTROLSEX);
}

HINSTANCE ShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR, LPCWSTR, int) {
    // Values above 32 mean success.
    constexpr std::uintptr_t kSuccess = 42;
    KorvoHost::CurrentFrontEnd().Open(verb ? verb : L"", KorvoHost::ShellTarget(file ? file : L""));
    return reinterpret_cast<HINSTANCE>(kSuccess);
}
