// The files this process put in place: moved into their folder by MoveFileExW, or written as a
// bitmap's output. The korvo command names a request's panoramas from this record rather than
// from what their folder holds, to which other processes (farm tasks sharing the folder) add too.
// Thread-safe.
#pragma once

#include <filesystem>
#include <vector>

namespace KorvoHost {

void NotePlacedFile(const std::filesystem::path& file);

// In the order placed; a file placed twice (written, then rewritten) is listed once.
std::vector<std::filesystem::path> PlacedFiles();

}  // namespace KorvoHost
