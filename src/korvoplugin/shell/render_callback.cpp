#include "shell/render_callback.h"

#include "host/win32_window.h"

namespace Korvo {

void ProcessPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void RenderCallback::SetTitle(const MCHAR* title) {
    if (Interface* ip = GetCOREInterface()) ip->ReplacePrompt(title);
    ProcessPendingMessages();
}

int RenderCallback::Progress(int, int) {
    ProcessPendingMessages();
    return cancelled ? RENDPROG_ABORT : RENDPROG_CONTINUE;
}

void RenderCallback::ProgressStart() {
    cancelled = false;
    if (dialog) BringWindowToTop(dialog);
    if (bar) {
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(bar, GWL_STYLE));
        SetWindowLongPtrW(bar, GWL_STYLE, static_cast<LONG_PTR>(style & ~PBS_MARQUEE));
    }
    // The host's render mode is not switched here: the standalone host has no such component,
    // so modeInterface stays null and savedMode untouched.
}

void RenderCallback::ProgressEnd() {
    // Destroying the window clears dialog and bar (its destruction step).
    if (dialog) DestroyWindow(dialog);
    dialog = nullptr;
    bar = nullptr;
}

void RenderCallback::SetPercent(double value) {
    if (bar) SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(static_cast<unsigned>(value)), 0);
    ProcessPendingMessages();
}

void RenderCallback::SetMarquee(int mode) {
    if (!bar) return;
    auto style = static_cast<DWORD>(GetWindowLongPtrW(bar, GWL_STYLE));
    if (mode == 0) {
        style &= ~PBS_MARQUEE;
    } else if (mode == 1) {
        // The bar animates a marquee only once it has the style: write it before starting.
        SetWindowLongPtrW(bar, GWL_STYLE, static_cast<LONG_PTR>(style | PBS_MARQUEE));
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
        return;
    }
    SetWindowLongPtrW(bar, GWL_STYLE, static_cast<LONG_PTR>(style));
}

}  // namespace Korvo
