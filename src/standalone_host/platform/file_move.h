// The copying half of MoveFileExW, for moves between file systems.
#pragma once

#include <filesystem>

namespace KorvoHost {

// Moves a regular file by copying: the data goes to a new file in the destination's folder, is
// synced, is then put in place (never over an existing file unless replace), and only then is the
// source removed. On failure the source stays, no partial file remains, and the thread's last
// error tells why.
bool MoveByCopy(const std::filesystem::path& from, const std::filesystem::path& to, bool replace);

}  // namespace KorvoHost
