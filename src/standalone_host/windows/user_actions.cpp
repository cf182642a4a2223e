#include "standalone_host/windows/user_actions.h"

#include <array>

#include "standalone_host/windows/window_manager.h"

namespace KorvoHost {

HWND FindControl(HWND dialog, int controlId) { return GetDlgItem(dialog, controlId); }

bool PressButton(HWND dialog, int controlId) {
    Window* control = FromHandle(FindControl(dialog, controlId));
    if (!control || !control->enabled) return false;
    if (control->kind == WindowKind::CheckBox) {
        control->checked = !control->checked;
        WindowManager::Instance().Changed(*control);
    }
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(controlId), BN_CLICKED),
                 reinterpret_cast<LPARAM>(control->handle()));
    return true;
}

void CloseWindow(HWND dialog) { SendMessageW(dialog, WM_CLOSE, 0, 0); }

bool SetItemChecked(HWND listView, int index, bool checked) {
    Window* list = FromHandle(listView);
    if (!list || !list->enabled || index < 0 || index >= static_cast<int>(list->items.size()))
        return false;
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageW(listView, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
    return true;
}

bool IsItemChecked(HWND listView, int index) {
    const auto state = static_cast<UINT>(
        SendMessageW(listView, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

int ItemCount(HWND listView) {
    return static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ItemText(HWND listView, int index) {
    Window* list = FromHandle(listView);
    if (!list || index < 0 || index >= static_cast<int>(list->items.size())) return {};
    const ListViewItem& item = list->items[index];
    if (!item.textOnDemand) return item.text;
    if (!list->parent) return {};
    std::array<wchar_t, 260> buffer{};
    NMLVDISPINFOW info{};
    info.hdr = {listView, static_cast<UINT_PTR>(list->id), LVN_GETDISPINFOW};
    info.item.mask = LVIF_TEXT;
    info.item.iItem = index;
    info.item.pszText = buffer.data();
    info.item.cchTextMax = static_cast<int>(buffer.size());
    info.item.lParam = item.lParam;
    SendMessageW(list->parent->handle(), WM_NOTIFY, static_cast<WPARAM>(list->id),
                 reinterpret_cast<LPARAM>(&info));
    // The owner may answer with its own text pointer or by filling the buffer.
    if (!info.item.pszText || info.item.pszText == LPSTR_TEXTCALLBACKW) return {};
    return std::wstring(
        info.item.pszText,
        wcsnlen(info.item.pszText, info.item.pszText == buffer.data() ? buffer.size() : 4096));
}

bool ActivateLink(HWND dialog, int controlId) {
    Window* link = FromHandle(FindControl(dialog, controlId));
    if (!link || !link->enabled || link->kind != WindowKind::Link) return false;
    NMLINK click{};
    click.hdr = {link->handle(), static_cast<UINT_PTR>(controlId), NM_CLICK};
    click.item.mask = LIF_URL | LIF_ITEMINDEX;
    const size_t n = std::min(link->url.size(), static_cast<size_t>(L_MAX_URL_LENGTH - 1));
    link->url.copy(click.item.szUrl, n);
    click.item.szUrl[n] = L'\0';
    SendMessageW(dialog, WM_NOTIFY, static_cast<WPARAM>(controlId),
                 reinterpret_cast<LPARAM>(&click));
    return true;
}

std::wstring WindowText(HWND window) {
    Window* w = FromHandle(window);
    return w ? w->text : std::wstring();
}

int DialogId(HWND dialog) {
    Window* w = FromHandle(dialog);
    return w && w->resource ? w->resource->id : 0;
}

}  // namespace KorvoHost
