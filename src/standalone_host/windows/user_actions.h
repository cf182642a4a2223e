// What a user can do to the host's windows; front ends and tests act through these.
#pragma once

#include <string>
#include <vector>

#include "host/win32_window.h"

namespace KorvoHost {

// Presses a button (toggling a check box first); false when there is no such control or it is
// disabled.
bool PressButton(HWND dialog, int controlId);
// Closes a dialog with its close box (or Escape).
void CloseWindow(HWND dialog);
// Checks or clears the check box of a list view item.
bool SetItemChecked(HWND listView, int index, bool checked);
bool IsItemChecked(HWND listView, int index);
// The item's text, asking the owner when it supplies texts on demand.
std::wstring ItemText(HWND listView, int index);
int ItemCount(HWND listView);
// Clicks the link control.
bool ActivateLink(HWND dialog, int controlId);

std::wstring WindowText(HWND window);
HWND FindControl(HWND dialog, int controlId);
// The dialog's template id, 0 for windows not made from a template.
int DialogId(HWND dialog);

}  // namespace KorvoHost
