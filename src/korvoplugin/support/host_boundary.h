// Where the host calls into the library (window procedures, the exported functions, the script
// interface) no exception may pass: the host's frames are not built to be unwound through, and
// one escaping there ends the host with the user's scene unsaved. What the library throws is
// caught at these edges, written to the log and answered as a failure.
#pragma once

#include <exception>
#include <type_traits>

#include "host/win32_platform.h"

namespace Korvo {

// Writes "Unexpected failure: <what>" to the log (the exception's own text, or "unknown" for
// one that is no std::exception). Never throws.
void LogUnexpectedFailure(std::exception_ptr failure) noexcept;

// Runs `body` and answers its result, or `fallback` when it throws.
template <class Result, class Body>
Result GuardedCall(Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        LogUnexpectedFailure(std::current_exception());
        return fallback;
    }
}

// Runs `body`, which answers nothing, and keeps what it throws from passing.
template <class Body>
requires std::is_void_v<std::invoke_result_t<Body>>
void GuardedCall(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        LogUnexpectedFailure(std::current_exception());
    }
}

// A dialog procedure around `Handle` for the host to call: a message whose handling throws is
// answered as not handled.
template <DLGPROC Handle>
INT_PTR CALLBACK GuardedDialogProc(HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam) noexcept {
    return GuardedCall<INT_PTR>(FALSE, [&] { return Handle(window, message, wParam, lParam); });
}

}  // namespace Korvo
