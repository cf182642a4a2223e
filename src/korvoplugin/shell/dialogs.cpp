#include "shell/dialogs.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "host/win32_window.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/cube_loop.h"
#include "shell/error_status.h"
#include "shell/workflow.h"
#include "support/host_boundary.h"
#include "support/log.h"
#include "support/module_handle.h"
#include "support/settings.h"

namespace Korvo {
namespace {

constexpr int kAnalyticsCategory = 1;
constexpr int kRenderPointsColumnWidth = 300;
constexpr UINT kUncheckedImage = 1;

HWND MainWindow() {
    Interface* ip = GetCOREInterface();
    return ip ? ip->GetMAXHWnd() : nullptr;
}

// Every dialog of the workflow opens centred on the main window and registered with the host.
void OpenedDialog(HWND dialog) {
    CenterWindow(dialog, MainWindow());
    if (Interface* ip = GetCOREInterface()) ip->RegisterDlgWnd(dialog);
}

void ClosedDialog(HWND dialog) {
    if (Interface* ip = GetCOREInterface()) ip->UnRegisterDlgWnd(dialog);
}

bool IsMouseMessage(UINT message) {
    return message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP;
}

KorvoPlugin* PluginOf(HWND dialog) {
    return reinterpret_cast<KorvoPlugin*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

KorvoPlugin& KeepPlugin(HWND dialog, LPARAM lParam) {
    auto* plugin = lParam ? reinterpret_cast<KorvoPlugin*>(lParam) : &GetKorvoPlugin();
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(plugin));
    return *plugin;
}

// The web page of a string-table address, opened in the user's browser.
void OpenWebPage(const MCHAR* verb, int textId, int showCommand) {
    const MSTR address = ResourceString(textId);
    ShellExecuteW(nullptr, verb, address.c_str(), nullptr, nullptr, showCommand);
}

// ---- Camera dialog ----------------------------------------------------------------------------

bool ItemChecked(HWND list, int index) {
    const auto state = static_cast<UINT>(
        SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK));
    return (state >> 12) != kUncheckedImage;
}

bool AnyItemChecked(HWND list) {
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        if (ItemChecked(list, i)) return true;
    return false;
}

void FillCameraList(KorvoPlugin& plugin, HWND list) {
    MSTR title = ResourceString(IDS_RENDER_POINTS);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = kRenderPointsColumnWidth;
    column.pszText = title.data();
    column.iSubItem = 0;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES);
    for (int i = 0; i < plugin.cameras.Count(); ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (IColorManager* colours = GetColorManager()) {
        const COLORREF background = colours->GetColor(IColorManager::kBackground);
        SendMessageW(list, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(background));
        SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(background));
        SendMessageW(list, LVM_SETTEXTCOLOR, 0,
                     static_cast<LPARAM>(colours->GetColor(IColorManager::kText)));
    }
}

void SupplyCameraName(const KorvoPlugin& plugin, NMLVDISPINFOW& info) {
    const int index = info.item.iItem;
    if (index < 0 || index >= plugin.cameras.Count()) {
        LogMessage(L"INDEX OUT OF BOUNDS");
        return;
    }
    if (info.hdr.idFrom != static_cast<UINT_PTR>(IDC_CAMERA_LIST)) return;
    const CameraData* camera = plugin.cameras[index];
    const MCHAR* name = camera && camera->node ? camera->node->GetName() : nullptr;
    if (!name || !info.item.pszText || info.item.cchTextMax <= 0) return;
    const size_t n = std::min(std::wcslen(name), static_cast<size_t>(info.item.cchTextMax - 1));
    std::wmemcpy(info.item.pszText, name, n);
    info.item.pszText[n] = L'\0';
}

void PickCheckedCameras(KorvoPlugin& plugin, HWND list) {
    // The list holds one item per camera, in the camera list's order.
    for (int i = 0; i < plugin.cameras.Count(); ++i) {
        CameraData* camera = plugin.cameras[i];
        if (!camera || !ItemChecked(list, i)) continue;
        camera->selected = true;
        fix_cam(plugin, camera->node);
    }
}

}  // namespace

void SendWorkflowHit(AnalyticsEvent event, const MCHAR* detail) {
    SendAnalyticsHit(kAnalyticsCategory, event, GetSetting(SettingKey::Cid), detail, false);
}

void ShowError() {
    const ErrorStatus error = CurrentError();
    const MSTR text = ErrorMessage(error.code);
    const int dialogId = error.useContactDialog ? IDD_ERROR_CONTACT : IDD_ERROR_PLAIN;
    const HWND dialog =
        CreateDialogParamW(PluginInstance(), MAKEINTRESOURCEW(dialogId), MainWindow(),
                           ErrorDialogProc, reinterpret_cast<LPARAM>(text.c_str()));
    if (dialog) ShowWindow(dialog, SW_SHOW);
}

static INT_PTR CameraDialogProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsMouseMessage(message)) return TRUE;
    switch (message) {
        case WM_INITDIALOG: {
            KorvoPlugin& plugin = KeepPlugin(dialog, lParam);
            CenterWindow(dialog, MainWindow());
            plugin.cameraDialog = dialog;
            if (Interface* ip = GetCOREInterface()) ip->RegisterDlgWnd(dialog);
            plugin.cameraListView = GetDlgItem(dialog, IDC_CAMERA_LIST);
            FillCameraList(plugin, plugin.cameraListView);
            return TRUE;
        }
        case WM_NOTIFY: {
            KorvoPlugin* plugin = PluginOf(dialog);
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!plugin || !header) return FALSE;
            if (header->code == LVN_GETDISPINFOW) {
                SupplyCameraName(*plugin, *reinterpret_cast<NMLVDISPINFOW*>(lParam));
                return TRUE;
            }
            if (header->code == LVN_ITEMCHANGED) {
                EnableWindow(GetDlgItem(dialog, IDOK), AnyItemChecked(header->hwndFrom));
                return TRUE;
            }
            return FALSE;
        }
        case WM_COMMAND: {
            KorvoPlugin* plugin = PluginOf(dialog);
            if (!plugin) return FALSE;
            if (LOWORD(wParam) == IDOK) {
                PickCheckedCameras(*plugin, GetDlgItem(dialog, IDC_CAMERA_LIST));
                // The run happens before the dialog is gone.
                EndDialog(dialog, IDOK);
                RunRenders(*plugin);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                SendWorkflowHit(AnalyticsEvent::Cancelled);
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        case WM_DESTROY: {
            ClosedDialog(dialog);
            if (KorvoPlugin* plugin = PluginOf(dialog)) {
                plugin->cameraDialog = nullptr;
                plugin->cameraListView = nullptr;
                ClearCameras(*plugin);
            }
            return TRUE;
        }
        default:
            return FALSE;
    }
}

static INT_PTR ProgressDialogProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            KorvoPlugin& plugin = KeepPlugin(dialog, lParam);
            CenterWindow(dialog, MainWindow());
            plugin.progress.dialog = dialog;
            if (Interface* ip = GetCOREInterface()) ip->RegisterDlgWnd(dialog);
            plugin.progress.bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
            SendMessageW(plugin.progress.bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            SendMessageW(plugin.progress.bar, PBM_SETPOS, 0, 0);
            return TRUE;
        }
        case WM_COMMAND:
            // The renderer stops at its next progress call.
            if (LOWORD(wParam) == IDC_CANCEL_RENDER) {
                if (KorvoPlugin* plugin = PluginOf(dialog)) plugin->progress.cancelled = true;
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            ClosedDialog(dialog);
            if (KorvoPlugin* plugin = PluginOf(dialog)) {
                plugin->progress.bar = nullptr;
                plugin->progress.dialog = nullptr;
            }
            return TRUE;
        default:
            return FALSE;
    }
}

static INT_PTR SavePromptProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsMouseMessage(message)) return TRUE;
    switch (message) {
        case WM_INITDIALOG:
            KeepPlugin(dialog, lParam);
            OpenedDialog(dialog);
            return TRUE;
        case WM_COMMAND: {
            KorvoPlugin* plugin = PluginOf(dialog);
            if (!plugin) return FALSE;
            switch (LOWORD(wParam)) {
                case IDC_SAVE:
                    EndDialog(dialog, IDC_SAVE);
                    if (Interface* ip = GetCOREInterface()) ip->FileSave();
                    PrepareAndRun(*plugin, dialog);
                    return TRUE;
                case IDC_CONTINUE:
                    EndDialog(dialog, IDC_CONTINUE);
                    PrepareAndRun(*plugin, dialog);
                    return TRUE;
                case IDCANCEL:
                    SendWorkflowHit(AnalyticsEvent::Cancelled);
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        }
        case WM_DESTROY:
            ClosedDialog(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

static INT_PTR CompletionDialogProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsMouseMessage(message)) return TRUE;
    switch (message) {
        case WM_INITDIALOG: {
            KorvoPlugin& plugin = KeepPlugin(dialog, lParam);
            OpenedDialog(dialog);
            // The link names the output folder exactly as stored: no escaping.
            LITEM link{};
            link.mask = LIF_ITEMINDEX | LIF_STATE | LIF_URL;
            link.iLink = 0;
            link.state = LIS_ENABLED;
            link.stateMask = LIS_ENABLED | LIS_DEFAULTCOLORS;
            const MSTR url = L"file://" + plugin.outputFolder;
            const size_t n = std::min(url.size(), static_cast<size_t>(L_MAX_URL_LENGTH - 1));
            std::wmemcpy(link.szUrl, url.c_str(), n);
            link.szUrl[n] = L'\0';
            SendMessageW(GetDlgItem(dialog, IDC_SHOW_IN_FOLDER), LM_SETITEM, 0,
                         reinterpret_cast<LPARAM>(&link));
            return TRUE;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!header || header->idFrom != static_cast<UINT_PTR>(IDC_SHOW_IN_FOLDER))
                return FALSE;
            if (header->code == NM_CUSTOMDRAW) {
                const auto* draw = reinterpret_cast<const NMCUSTOMDRAW*>(lParam);
                SetTextColor(draw->hdc, kLinkTextColour);
                SetWindowLongPtrW(dialog, DWLP_MSGRESULT, CDRF_DODEFAULT);
                return TRUE;
            }
            if (header->code == NM_CLICK || header->code == NM_RETURN) {
                const auto* click = reinterpret_cast<const NMLINK*>(lParam);
                ShellExecuteW(nullptr, L"open", click->item.szUrl, nullptr, nullptr, SW_SHOW);
                return TRUE;
            }
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_UPLOAD) {
                // The dialog stays open: the page can be opened again.
                OpenWebPage(nullptr, IDS_LOGIN_URL, SW_SHOW);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            ClosedDialog(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

static INT_PTR ErrorDialogProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsMouseMessage(message)) return TRUE;
    switch (message) {
        case WM_INITDIALOG:
            OpenedDialog(dialog);
            if (lParam) SetDlgItemTextW(dialog, IDC_ERROR_TEXT, reinterpret_cast<LPCWSTR>(lParam));
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    DestroyWindow(dialog);
                    return TRUE;
                case IDC_CONTACT_US:
                    OpenWebPage(L"open", IDS_CONTACT_URL, SW_SHOWNORMAL);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_DESTROY:
            ClosedDialog(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

// The procedures the host calls: what their handling throws stays on this side.
INT_PTR CALLBACK CameraDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogProc<CameraDialogProcBody>(dialog, message, wParam, lParam);
}
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogProc<ProgressDialogProcBody>(dialog, message, wParam, lParam);
}
INT_PTR CALLBACK SavePromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogProc<SavePromptProcBody>(dialog, message, wParam, lParam);
}
INT_PTR CALLBACK CompletionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogProc<CompletionDialogProcBody>(dialog, message, wParam, lParam);
}
INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogProc<ErrorDialogProcBody>(dialog, message, wParam, lParam);
}

}  // namespace Korvo
