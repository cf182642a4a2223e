// Text conversion of the Win32-shaped layer. The system's multibyte code page here is UTF-8.
#include <algorithm>
#include <cwchar>
#include <string_view>

#include "host/win32_platform.h"
#include "standalone_host/platform/utf8.h"

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideLength, char* output, int outputSize,
                        const char*, BOOL* usedDefault) {
    if (usedDefault) *usedDefault = FALSE;
    if (!wide || outputSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // With -1 the terminator is converted too.
    const size_t length = wideLength < 0 ? std::wcslen(wide) + 1 : static_cast<size_t>(wideLength);
    const std::string bytes = KorvoHost::ToUtf8(std::wstring_view(wide, length));
    if (outputSize == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(outputSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(bytes.begin(), bytes.end(), output);
    return static_cast<int>(bytes.size());
}
