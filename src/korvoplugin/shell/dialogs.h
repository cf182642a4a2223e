// The workflow's windows: the camera dialog, the progress window, the save prompt, the completion
// dialog and the two error dialogs, and ShowError, which opens the one the error status asks for.
#pragma once

#include "korvo_plugin.h"
#include "support/analytics.h"

namespace Korvo {

// Opens the error dialog of the recorded error (contact or plain, as its flag says, whatever the
// code) with its message, modeless; returns at once.
void ShowError();

// Window procedures. The camera dialog, the progress window and the save prompt take the utility
// object as their parameter; the error dialogs take the message text (or null).
INT_PTR CALLBACK CameraDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SavePromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CompletionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The colour of the completion dialog's link text (red 0xE9, green 0x05, blue 0x45).
constexpr COLORREF kLinkTextColour = 0x4505E9;

// The analytics hit of a workflow event (category 1, the client identifier, flag false).
void SendWorkflowHit(AnalyticsEvent event, const MCHAR* detail = nullptr);

}  // namespace Korvo
