// File and folder helpers of the render workflow. None of them logs: callers log failures, and
// read GetLastError() right after a failed MoveFileSafe.
#pragma once

#include <cstdint>

#include "host/max_types.h"

namespace Korvo {

// Results of MoveFileSafe.
inline constexpr std::int32_t kMoveDone = 0;
inline constexpr std::int32_t kMoveCannotReplace = -1;  // the existing destination stayed
inline constexpr std::int32_t kMoveFailed = -2;         // the source stayed where it was

// Moves source to destination, also across file systems. When the destination exists: with
// replace it is deleted first; without, the file goes to the first free name "<base> (n)<ext>"
// beside it (n = 1, 2, …) and no existing file is ever overwritten, even one created meanwhile.
std::int32_t MoveFileSafe(const MSTR& source, const MSTR& destination, bool replace);

// True when the folder exists or was created; only its last element is created.
bool EnsureFolder(const MSTR& folder);

// Deletes the folder and everything in it; does nothing unless the path is a folder.
void DeleteFolderTree(const MSTR& folder);

MSTR TrimWhitespace(MSTR text);

}  // namespace Korvo
