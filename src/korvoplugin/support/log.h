// The run log: korvo_log.txt in the run's output folder, one line per entry
// ("<local date and time>: <message>\r\n"), appended and flushed per entry. Entries written before
// the first OpenLog, or after CloseLog and before the next OpenLog, are dropped. Logging never
// reports an error. Not thread-safe: the workflow logs from the user-interface thread.
#pragma once

#include <string_view>

#include "host/max_types.h"
#include "support/text_format.h"

namespace Korvo {

inline constexpr const MCHAR* kLogFileName = L"korvo_log.txt";

// Opens folder + "/" + kLogFileName for appending (the folder is taken as given, a trailing
// separator included); when that fails, the same name in the host's temporary directory.
void OpenLog(std::wstring_view folder);
void CloseLog();

// Writes the message verbatim: a "%" in it is not a conversion.
void LogMessage(std::wstring_view message);

// Writes the format expanded once with Format ("%s" text, "%d" int32, "%u" uint32).
template <class... Args>
void LogFormat(const MSTR& format, const Args&... args);

// Whether OpenLog has run since the library was loaded (a closed log stays "opened").
bool LogOpened();

template <class... Args>
void LogFormat(const MSTR& format, const Args&... args) {
    if (LogOpened()) LogMessage(Format(format, args...));
}

}  // namespace Korvo
