#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Threads of this process right now.
int CountThreads();

// The visible or hidden top-level window of this process with that title.
HWND FindOwnWindow(const char* title);

// Text of a dialog control, read through its window.
std::string ControlText(HWND dialog, int id);

// Milliseconds since an arbitrary start, for measuring bounded waits.
double NowMs();

}  // namespace testing_support
