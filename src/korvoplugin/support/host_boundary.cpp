#include "support/host_boundary.h"

#include <string>

#include "support/log.h"

namespace Korvo {

void LogUnexpectedFailure(std::exception_ptr failure) noexcept {
    try {
        std::wstring what = L"unknown";
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            // Library texts are ASCII; anything else shows as '?'.
            what.clear();
            for (const char* c = e.what(); *c; ++c)
                what.push_back(static_cast<unsigned char>(*c) < 0x80 ? wchar_t(*c) : L'?');
        } catch (...) {
        }
        LogMessage(L"Unexpected failure: " + what);
    } catch (...) {
        // No memory even for the line: nothing more can be told.
    }
}

}  // namespace Korvo
