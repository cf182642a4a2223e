#include "support/log.h"

#include <clocale>
#include <ctime>
#include <cwchar>
#include <iterator>
#include <string_view>

#include "host/interface.h"
#include "host/util.h"

namespace Korvo {
namespace {

bool gLogOpened = false;

MaxSDK::Util::TextFile::Writer& LogWriter() {
    static MaxSDK::Util::TextFile::Writer writer;
    return writer;
}

bool OpenLogFile(const MSTR& folder) {
    const MSTR path = folder + L"/" + kLogFileName;
    return LogWriter().Open(path.c_str(), /*append=*/true, /*encoding=*/0, /*lineEndMode=*/1);
}

MSTR Timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return {};
    // The classic locale's "%c" reads month/day/two-digit year and 24-hour time wherever our log
    // files are read; the C library here spells the classic date out in words instead. Its
    // "C.UTF-8" locale keeps the classic date and time too.
    const char* name = std::setlocale(LC_TIME, nullptr);
    const std::string_view locale = name ? name : "C";
    const bool classic = locale == "C" || locale == "POSIX" || locale.starts_with("C.");
    wchar_t buffer[128];
    const size_t length =
        std::wcsftime(buffer, std::size(buffer), classic ? L"%m/%d/%y %H:%M:%S" : L"%c", &local);
    return MSTR(buffer, length);
}

}  // namespace

void OpenLog(std::wstring_view folder) {
    if (!OpenLogFile(MSTR(folder))) {
        // An output folder that cannot take the file: the log goes to the host's temporary
        // directory. Without one there is nowhere safe to write, and the run goes on unlogged.
        Interface* ip = GetCOREInterface();
        const MCHAR* temp = ip ? ip->GetDir(APP_TEMP_DIR) : nullptr;
        if (temp && *temp) OpenLogFile(temp);
    }
    gLogOpened = true;
}

void CloseLog() {
    if (gLogOpened) LogWriter().Close();
}

bool LogOpened() { return gLogOpened; }

void LogMessage(std::wstring_view message) {
    if (!gLogOpened) return;
    MSTR line = Timestamp();
    line += L": ";
    line += message;
    line += L"\r\n";
    MaxSDK::Util::TextFile::Writer& writer = LogWriter();
    writer.Write(line.c_str(), line.size());
    writer.Flush();
}

}  // namespace Korvo
