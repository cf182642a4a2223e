// Texts of the plug-in's string table.
#pragma once

#include "host/max_types.h"

namespace Korvo {

// Looks the string up into one process-wide buffer of 256 wide characters and answers it, or null
// when the module handle is not set yet or there is no such string. The text is valid only until
// the next lookup: callers that keep it copy it first (or use ResourceString).
const MCHAR* LoadResourceText(int id);

// A copy of the string, empty when there is none.
MSTR ResourceString(int id);

// The string in storage of its own that lives as long as the library, for texts handed to the
// host (class names, categories, the library description); null when there is no such string.
const MCHAR* LastingResourceText(int id);

}  // namespace Korvo
