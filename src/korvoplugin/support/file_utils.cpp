#include "support/file_utils.h"

#include <algorithm>
#include <cwctype>
#include <string>

#include "host/util.h"
#include "host/win32_platform.h"

namespace Korvo {
namespace {

bool Exists(const MSTR& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Never replaces a file, atomically; copies when source and destination lie on different file
// systems.
bool MoveWithoutReplacing(const MSTR& source, const MSTR& destination) {
    return MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_COPY_ALLOWED) != FALSE;
}

// "<folder>/<base> (n)<ext>" for the destination's folder, base name and extension.
class NumberedNames {
  public:
    explicit NumberedNames(const MSTR& destination) {
        SplitFilename(destination, &folder_, &base_, &ext_);
        // A destination in the root folder has an empty folder part but still needs its "/".
        const bool rooted =
            !destination.empty() && (destination[0] == L'/' || destination[0] == L'\\');
        if (!folder_.empty() || rooted) folder_ += L"/";
    }
    MSTR operator()(std::uint64_t n) const {
        return folder_ + base_ + L" (" + std::to_wstring(n) + L")" + ext_;
    }

  private:
    MSTR folder_, base_, ext_;
};

}  // namespace

std::int32_t MoveFileSafe(const MSTR& source, const MSTR& destination, bool replace) {
    const bool taken = Exists(destination);
    if (replace) {
        if (taken && !DeleteFileW(destination.c_str())) return kMoveCannotReplace;
        return MoveFileExW(source.c_str(), destination.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
                   ? kMoveDone
                   : kMoveFailed;
    }
    if (!taken) {
        if (MoveWithoutReplacing(source, destination)) return kMoveDone;
        // Someone took the name after the check: carry on with the numbered names.
        if (GetLastError() != ERROR_ALREADY_EXISTS) return kMoveFailed;
    }
    // The check only skips names known to be taken; the move itself refuses a name taken since,
    // and the next number is tried.
    const NumberedNames names(destination);
    for (std::uint64_t n = 1;; ++n) {
        const MSTR candidate = names(n);
        if (Exists(candidate)) continue;
        if (MoveWithoutReplacing(source, candidate)) return kMoveDone;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return kMoveFailed;
    }
}

bool EnsureFolder(const MSTR& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    return CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
}

void DeleteFolderTree(const MSTR& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    MSTR list = folder;
    list.push_back(L'\0');
    list.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    operation.lpszProgressTitle = L"";
    SHFileOperationW(&operation);
    // The shell may leave the folder itself behind.
    RemoveDirectoryW(folder.c_str());
}

MSTR TrimWhitespace(MSTR text) {
    const auto isSpace = [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), isSpace));
    while (!text.empty() && isSpace(text.back())) text.pop_back();
    return text;
}

}  // namespace Korvo
