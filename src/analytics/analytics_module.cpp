// Stand-in for the outside analytics module: it records every hit as one JSON line,
//   {"category":1,"event":7,"id":"…","detail":"2","flag":false}
// appended to the file named by KORVO_ANALYTICS_LOG. Without that variable, or when the file
// cannot be written, a hit is dropped and SendHit answers false.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "standalone_host/platform/utf8.h"

namespace {

bool AppendLine(const char* file, const std::string& line) {
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write per line: with O_APPEND, lines from several processes never interleave.
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const bool closed = ::close(fd) == 0;
    return written == static_cast<ssize_t>(line.size()) && closed;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) bool SendHit(int category, int event,
                                                               const wchar_t* id,
                                                               const wchar_t* detail, bool flag) {
    try {
        const char* file = std::getenv("KORVO_ANALYTICS_LOG");
        if (!file || !*file) return false;
        const nlohmann::json hit = {
            {"category", category},
            {"event", event},
            {"id", id ? nlohmann::json(KorvoHost::ToUtf8(id)) : nlohmann::json(nullptr)},
            {"detail",
             detail ? nlohmann::json(KorvoHost::ToUtf8(detail)) : nlohmann::json(nullptr)},
            {"flag", flag},
        };
        return AppendLine(file, hit.dump() + "\n");
    } catch (...) {
        // Nothing may cross into the caller, which is not ours.
        return false;
    }
}
