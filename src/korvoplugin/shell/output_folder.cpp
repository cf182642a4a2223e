#include "shell/output_folder.h"

#include <array>

#include "host/win32_window.h"
#include "resources/resource.h"
#include "resources/resource_text.h"
#include "shell/dialogs.h"
#include "shell/error_status.h"
#include "support/host_boundary.h"

namespace Korvo {
namespace {

constexpr UINT kBrowserFlags =
    BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;

int CALLBACK BrowserCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
    return GuardedCall(0, [&] {
        if (message == BFFM_INITIALIZED) {
            const auto* initial = reinterpret_cast<const MCHAR*>(data);
            if (initial && *initial)
                SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(initial));
            return 0;
        }
        if (message == BFFM_VALIDATEFAILEDW) {
            SetError(kErrorFolderMissing, false);
            SendWorkflowHit(AnalyticsEvent::ErrorShown, L"5");
            ShowError();
            return 1;  // the browser stays open
        }
        return 0;
    });
}

}  // namespace

std::optional<MSTR> BrowseForOutputFolder(HWND owner, const MCHAR* initialFolder) {
    const MSTR title = ResourceString(IDS_SELECT_OUTPUT_DIR);
    std::array<wchar_t, MAX_PATH> displayName{};
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName.data();
    info.lpszTitle = title.c_str();
    info.ulFlags = kBrowserFlags;
    info.lpfn = BrowserCallback;
    info.lParam = reinterpret_cast<LPARAM>(initialFolder);
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item) return std::nullopt;
    std::array<wchar_t, MAX_PATH> path{};
    const BOOL converted = SHGetPathFromIDListW(item, path.data());
    CoTaskMemFree(item);
    // A folder whose path does not fit the buffer cannot be used; it reads as no choice.
    if (!converted) return std::nullopt;
    return MSTR(path.data());
}

}  // namespace Korvo
