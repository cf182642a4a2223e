#include "standalone_host/windows/window_manager.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "standalone_host/windows/front_end.h"

namespace KorvoHost {
namespace {

constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

WindowKind KindOf(const wchar_t* className, DWORD style) {
    const std::wstring_view name = className ? className : L"";
    if (name == WC_BUTTON)
        return (style & 0xF) == BS_AUTOCHECKBOX ? WindowKind::CheckBox : WindowKind::Button;
    if (name == WC_LISTVIEW) return WindowKind::ListView;
    if (name == PROGRESS_CLASS) return WindowKind::ProgressBar;
    if (name == WC_LINK) return WindowKind::Link;
    return WindowKind::Static;
}

const ModuleResources* ResourcesOf(HINSTANCE module) {
    if (!module) return nullptr;
    return reinterpret_cast<const ModuleResources*>(GetProcAddress(module, kModuleResourcesSymbol));
}

bool IsDialogLike(const Window& w) {
    return w.kind == WindowKind::Dialog || w.kind == WindowKind::Panel;
}

}  // namespace

const DialogResource* FindDialogResource(HINSTANCE module, LPCWSTR templateName) {
    const ModuleResources* resources = ResourcesOf(module);
    if (!resources || !IS_INTRESOURCE(templateName)) return nullptr;
    const auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(templateName));
    for (size_t i = 0; i < resources->dialogCount; ++i)
        if (resources->dialogs[i].id == id) return &resources->dialogs[i];
    return nullptr;
}

WindowManager& WindowManager::Instance() {
    static WindowManager manager;
    return manager;
}

Window* FromHandle(HWND handle) { return WindowManager::Instance().Find(handle); }

Window* WindowManager::Find(HWND handle) const {
    auto* window = reinterpret_cast<Window*>(handle);
    return window && windows_.count(window) ? window : nullptr;
}

Window& WindowManager::Make(WindowKind kind) {
    auto window = std::make_unique<Window>();
    window->kind = kind;
    Window& ref = *window;
    windows_.emplace(&ref, std::move(window));
    return ref;
}

HWND WindowManager::MainWindow() {
    if (!main_) {
        main_ = &Make(WindowKind::Main);
        main_->text = L"Korvo standalone host";
        main_->visible = true;
    }
    return main_->handle();
}

HWND WindowManager::CommandPanel() {
    if (!commandPanel_) {
        commandPanel_ = &Make(WindowKind::Main);
        commandPanel_->text = L"Command panel";
        commandPanel_->parent = FromHandle(MainWindow());
        commandPanel_->visible = true;
    }
    return commandPanel_->handle();
}

HWND WindowManager::CreateDialogWindow(HINSTANCE module, LPCWSTR templateName, HWND parent,
                                       DLGPROC proc, LPARAM param, bool modal, WindowKind kind) {
    const DialogResource* resource = FindDialogResource(module, templateName);
    if (!resource) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    Window& dialog = Make(kind);
    dialog.module = module;
    dialog.resource = resource;
    dialog.proc = proc;
    dialog.modal = modal;
    dialog.style = resource->style;
    dialog.text = resource->caption ? resource->caption : L"";
    dialog.parent = FromHandle(parent);
    dialog.visible = modal || (resource->style & WS_VISIBLE) != 0;
    for (size_t i = 0; i < resource->itemCount; ++i) {
        const DialogItemResource& item = resource->items[i];
        Window& control = Make(KindOf(item.className, item.style));
        control.className = item.className ? item.className : L"";
        control.text = item.text ? item.text : L"";
        control.id = item.id;
        control.style = item.style;
        control.parent = &dialog;
        control.enabled = (item.style & WS_DISABLED) == 0;
        control.visible = (item.style & WS_VISIBLE) != 0;
        dialog.children.push_back(&control);
    }
    topLevel_.push_back(&dialog);

    const HWND handle = dialog.handle();
    const HWND focus = dialog.children.empty() ? nullptr : dialog.children.front()->handle();
    Send(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
    // The dialog may have destroyed itself while initialising.
    if (!FromHandle(handle)) return nullptr;
    PaintCustomDrawn(handle);
    if (!FromHandle(handle)) return nullptr;
    if (FromHandle(handle)->visible) CurrentFrontEnd().WindowShown(handle);
    return handle;
}

HWND WindowManager::CreateFolderBrowser(HWND owner, std::wstring_view title) {
    Window& browser = Make(WindowKind::FolderBrowser);
    browser.text = title;
    browser.parent = FromHandle(owner);
    browser.visible = true;
    return browser.handle();
}

INT_PTR WindowManager::RunModal(HWND handle) {
    // The user answers until the dialog ends. A front end with nothing to say closes it, and a
    // dialog that refuses to close then is ended as cancelled, so a run can never hang here.
    bool closeTried = false;
    while (Window* dialog = FromHandle(handle)) {
        if (dialog->ended) break;
        if (CurrentFrontEnd().AnswerModal(handle) == FrontEnd::Answer::Acted) {
            closeTried = false;
            continue;
        }
        if (!FromHandle(handle) || FromHandle(handle)->ended) break;
        if (closeTried) {
            EndDialog(handle, IDCANCEL);
            break;
        }
        closeTried = true;
        Send(handle, WM_CLOSE, 0, 0);
    }
    Window* dialog = FromHandle(handle);
    if (!dialog) return IDCANCEL;
    const INT_PTR result = dialog->endResult;
    Destroy(handle);
    return result;
}

void WindowManager::Destroy(HWND handle) {
    Window* window = FromHandle(handle);
    if (!window) return;
    if (IsDialogLike(*window)) {
        // Gone for every other call from here on, so a handler that destroys it again is harmless.
        topLevel_.erase(std::remove(topLevel_.begin(), topLevel_.end(), window), topLevel_.end());
        Send(handle, WM_DESTROY, 0, 0);
        CurrentFrontEnd().WindowDestroyed(handle);
    }
    for (Window* child : window->children) windows_.erase(child);
    if (window->parent) {
        auto& siblings = window->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    if (window == main_) main_ = nullptr;
    if (window == commandPanel_) commandPanel_ = nullptr;
    windows_.erase(window);
}

LRESULT WindowManager::Send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = FromHandle(handle);
    if (!window) return 0;
    if (!IsDialogLike(*window)) return ControlMessage(*window, message, wParam, lParam);

    const INT_PTR handled = window->proc ? window->proc(handle, message, wParam, lParam) : FALSE;
    window = FromHandle(handle);
    if (!window) return handled;
    if (handled) return message == WM_NOTIFY ? window->messageResult : handled;
    // What the default dialog procedure does with the messages a dialog leaves unhandled.
    if (message == WM_CLOSE) Send(handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

void WindowManager::PaintCustomDrawn(HWND dialog) {
    Window* window = FromHandle(dialog);
    if (!window) return;
    std::vector<HWND> links;
    for (Window* child : window->children)
        if (child->kind == WindowKind::Link) links.push_back(child->handle());
    // A link asks its owner before it paints; its device context here is the link itself.
    for (const HWND link : links) {
        Window* control = FromHandle(link);
        if (!control || !FromHandle(dialog)) return;
        NMCUSTOMDRAW draw{};
        draw.hdr = {link, static_cast<UINT_PTR>(control->id), NM_CUSTOMDRAW};
        draw.dwDrawStage = CDDS_PREPAINT;
        draw.hdc = reinterpret_cast<HDC>(link);
        Send(dialog, WM_NOTIFY, static_cast<WPARAM>(control->id), reinterpret_cast<LPARAM>(&draw));
    }
}

void WindowManager::Changed(Window& window) { CurrentFrontEnd().WindowChanged(window.handle()); }

void WindowManager::SetItemState(Window& list, int index, UINT state, UINT mask) {
    if (index < 0 || index >= static_cast<int>(list.items.size())) return;
    ListViewItem& item = list.items[index];
    const UINT old = item.state;
    item.state = (item.state & ~mask) | (state & mask);
    if (item.state == old || !list.parent) return;
    NMLISTVIEW change{};
    change.hdr = {list.handle(), static_cast<UINT_PTR>(list.id), LVN_ITEMCHANGED};
    change.iItem = index;
    change.uNewState = item.state;
    change.uOldState = old;
    change.uChanged = LVIF_STATE;
    change.lParam = item.lParam;
    Send(list.parent->handle(), WM_NOTIFY, static_cast<WPARAM>(list.id),
         reinterpret_cast<LPARAM>(&change));
    if (Window* still = FromHandle(list.handle())) Changed(*still);
}

LRESULT WindowManager::ControlMessage(Window& control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT:
            control.text = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
            Changed(control);
            return TRUE;
        case PBM_SETRANGE:
            control.rangeMin = LOWORD(static_cast<std::uintptr_t>(lParam));
            control.rangeMax = HIWORD(static_cast<std::uintptr_t>(lParam));
            return 0;
        case PBM_SETPOS: {
            const int previous = control.position;
            control.position =
                std::clamp(static_cast<int>(wParam), control.rangeMin, control.rangeMax);
            Changed(control);
            return previous;
        }
        case PBM_GETPOS:
            return control.position;
        case PBM_SETMARQUEE:
            control.marqueeRunning = wParam != 0;
            Changed(control);
            return TRUE;
        case LVM_INSERTCOLUMNW: {
            const auto* column = reinterpret_cast<const LVCOLUMNW*>(lParam);
            const size_t at = std::min<size_t>(wParam, control.columns.size());
            control.columns.insert(control.columns.begin() + at,
                                   column && column->pszText ? column->pszText : L"");
            return static_cast<LRESULT>(at);
        }
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
            const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFF;
            const DWORD old = control.extendedStyle;
            control.extendedStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
            return old;
        }
        case LVM_INSERTITEMW: {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            if (!item) return -1;
            ListViewItem entry;
            if (item->mask & LVIF_TEXT) {
                entry.textOnDemand = item->pszText == LPSTR_TEXTCALLBACKW;
                if (!entry.textOnDemand && item->pszText) entry.text = item->pszText;
            }
            // Items of a list with check boxes start unchecked (state image 1).
            entry.state =
                (control.extendedStyle & LVS_EX_CHECKBOXES) ? INDEXTOSTATEIMAGEMASK(1) : 0;
            if (item->mask & LVIF_STATE)
                entry.state = (entry.state & ~item->stateMask) | (item->state & item->stateMask);
            entry.lParam = item->lParam;
            const size_t at =
                std::clamp<long>(item->iItem, 0, static_cast<long>(control.items.size()));
            control.items.insert(control.items.begin() + at, entry);
            Changed(control);
            return static_cast<LRESULT>(at);
        }
        case LVM_GETITEMCOUNT:
            return static_cast<LRESULT>(control.items.size());
        case LVM_GETITEMSTATE: {
            const auto index = static_cast<size_t>(wParam);
            return index < control.items.size()
                       ? (control.items[index].state & static_cast<UINT>(lParam))
                       : 0;
        }
        case LVM_SETITEMSTATE: {
            const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
            if (!item) return FALSE;
            const int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
            if (index == -1) {
                for (size_t i = 0; i < control.items.size(); ++i)
                    SetItemState(control, static_cast<int>(i), item->state, item->stateMask);
            } else {
                SetItemState(control, index, item->state, item->stateMask);
            }
            return TRUE;
        }
        case LVM_SETBKCOLOR:
            control.backColour = static_cast<COLORREF>(lParam);
            return TRUE;
        case LVM_SETTEXTCOLOR:
            control.textColour = static_cast<COLORREF>(lParam);
            return TRUE;
        case LVM_SETTEXTBKCOLOR:
            control.textBackColour = static_cast<COLORREF>(lParam);
            return TRUE;
        case BFFM_SETSELECTIONW:
            // Only paths are supported, not item lists.
            if (!wParam) return 0;
            control.selection = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
            return 0;
        case LM_SETITEM: {
            const auto* item = reinterpret_cast<const LITEM*>(lParam);
            if (!item || !(item->mask & LIF_URL)) return FALSE;
            control.url.assign(item->szUrl, wcsnlen(item->szUrl, L_MAX_URL_LENGTH));
            return TRUE;
        }
        default:
            return 0;
    }
}

void WindowManager::Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    queue_.push_back(MSG{window, message, wParam, lParam});
}

bool WindowManager::Peek(MSG* msg, bool remove) {
    if (queue_.empty()) CurrentFrontEnd().PollInput();
    if (queue_.empty()) return false;
    if (msg) *msg = queue_.front();
    if (remove) queue_.pop_front();
    return true;
}

std::vector<HWND> WindowManager::TopLevelWindows() const {
    std::vector<HWND> handles;
    handles.reserve(topLevel_.size());
    for (Window* w : topLevel_) handles.push_back(w->handle());
    return handles;
}

}  // namespace KorvoHost
