// The thread's last-error code behind GetLastError/SetLastError, and the errno mapping that the
// platform functions use to set it.
#pragma once

#include "host/win32_platform.h"

namespace KorvoHost {

// The Win32 code that matches errno value error, or 0x20000000 | error where none fits.
DWORD Win32ErrorFromErrno(int error);

// Sets the thread's last error from errno (or the given errno value).
void SetLastErrorFromErrno();
void SetLastErrorFromErrno(int error);

}  // namespace KorvoHost
