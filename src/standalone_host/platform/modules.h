// Module loading behind LoadLibraryW and friends: what the host adds for its own diagnostics.
#pragma once

#include <string>

namespace KorvoHost {

// The loader's explanation of this thread's last failed LoadLibraryW ("" after a success).
std::string LastLoadError();

}  // namespace KorvoHost
