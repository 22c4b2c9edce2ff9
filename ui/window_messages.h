#pragma once

#include <windows.h>

// The private messages of the status window, which other threads and the
// notification area send it.

// wParam the icon id, lParam the mouse message.
constexpr UINT kTrayMessage = WM_USER + 2;
// Ends the window's run with result 1; anyone holding the handle may post it.
constexpr UINT kEndRequestMessage = WM_USER + 3;
// wParam the status code, lParam a ticket of Ui::StatusInbox.
constexpr UINT kStatusMessage = WM_USER + 4;
