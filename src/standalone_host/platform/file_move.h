// The copying half of MoveFileExW, for moves between file systems.
#pragma once

#include <filesystem>

namespace KorvoHost {

// Moves a regular file by copying: the data goes to a new file in the destination's folder, is
// synced, is then put in place (never over an existing file unless replace), and only then is the
// source removed. On failure the source stays, no partial file remains, and the thread's last
// error tells why. Without replace the copy has no name until it is in place, so not even a
// process killed part-way leaves a file behind (where the file system has unnamed files).
bool MoveByCopy(const std::filesystem::path& from, const std::filesystem::path& to, bool replace);

}  // namespace KorvoHost
