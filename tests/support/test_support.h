#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Threads of this process right now.
// Threads of this process, or those of them for which counted(id) holds.
int CountThreads(bool (*counted)(DWORD threadId) = nullptr);

// The visible or hidden top-level window of this process with that title.
HWND FindOwnWindow(const char* title);

// Text of a dialog control, read through its window.
std::string ControlText(HWND dialog, int id);

// Milliseconds since an arbitrary start, for measuring bounded waits.
double NowMs();

// Runs this test program again in a child process with only the tests that
// match the filter, for cases that leave a process unusable or must be
// watched from outside. Returns the child's exit code, or -1 when it did
// not end within timeoutMs (it is then killed).
int RunTestsInChild(const std::string& filter, DWORD timeoutMs);
// True inside such a child.
bool InChildProcess();

}  // namespace testing_support
