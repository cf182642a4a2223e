// The shell's folder browser: the front end answers for the person, the owner's callback checks
// typed names.
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>

#include "standalone_host/windows/front_end.h"
#include "standalone_host/windows/window_manager.h"

using KorvoHost::FromHandle;
using KorvoHost::WindowManager;

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "/a/b/" names the folder "/a/b"; the root stays "/".
std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'/' || path.back() == L'\\')) path.pop_back();
    return path;
}

// An item list of this host is the folder's path, NUL-ended, in memory CoTaskMemFree frees.
PIDLIST_ABSOLUTE MakeItem(const std::wstring& path) {
    auto* item = static_cast<wchar_t*>(std::malloc((path.size() + 1) * sizeof(wchar_t)));
    if (!item) return nullptr;
    std::wmemcpy(item, path.c_str(), path.size() + 1);
    return reinterpret_cast<PIDLIST_ABSOLUTE>(item);
}

}  // namespace

PIDLIST_ABSOLUTE SHBrowseForFolderW(BROWSEINFOW* info) {
    if (!info) return nullptr;
    auto& windows = WindowManager::Instance();
    const HWND browser =
        windows.CreateFolderBrowser(info->hwndOwner, info->lpszTitle ? info->lpszTitle : L"");
    const auto notify = [&](UINT message, LPARAM lParam) {
        return info->lpfn ? info->lpfn(browser, message, lParam, info->lParam) : 0;
    };

    notify(BFFM_INITIALIZED, 0);
    std::optional<std::wstring> chosen;
    while (KorvoHost::Window* window = FromHandle(browser)) {
        const std::wstring title = window->text, selection = window->selection;
        std::optional<std::wstring> answer =
            KorvoHost::CurrentFrontEnd().BrowseForFolder(title, selection);
        if (!answer) break;
        const std::wstring path = WithoutTrailingSeparators(*answer);
        if (!path.empty() && IsFolder(path)) {
            chosen = path;
            break;
        }
        // A name that is no folder: the owner decides whether the browser stays open. Without
        // validation the browser never accepts it and simply asks again.
        if ((info->ulFlags & BIF_VALIDATE) &&
            notify(BFFM_VALIDATEFAILEDW, reinterpret_cast<LPARAM>(path.c_str())) == 0)
            break;
    }
    windows.Destroy(browser);
    if (!chosen) return nullptr;
    if (info->pszDisplayName) {
        const size_t slash = chosen->find_last_of(L"/\\");
        std::wstring name = slash == std::wstring::npos ? *chosen : chosen->substr(slash + 1);
        if (name.empty()) name = *chosen;
        name.resize(std::min<size_t>(name.size(), MAX_PATH - 1));
        std::wmemcpy(info->pszDisplayName, name.c_str(), name.size() + 1);
    }
    return MakeItem(*chosen);
}

BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE item, LPWSTR path) {
    if (!path) return FALSE;
    path[0] = L'\0';
    if (!item) return FALSE;
    const auto* text = reinterpret_cast<const wchar_t*>(item);
    const size_t length = std::wcslen(text);
    if (length >= static_cast<size_t>(MAX_PATH)) return FALSE;
    std::wmemcpy(path, text, length + 1);
    return TRUE;
}

void CoTaskMemFree(void* memory) { std::free(memory); }
