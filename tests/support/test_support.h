#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Threads of this process, or those of them for which counted(id) holds.
int CountThreads(bool (*counted)(DWORD threadId) = nullptr);

// Threads of this process started through the C runtime, as the library
// starts its own (and std::thread does). The system's pool workers come and
// go on their own schedule; they are not counted.
int CountRuntimeThreads();

// The visible or hidden top-level window of this process with that title.
HWND FindOwnWindow(const char* title);

// Text of a dialog control, read through its window.
std::string ControlText(HWND dialog, int id);

// The whole file; empty when it cannot be read.
std::string FileBytes(const std::string& path);

// Bytes of this process's memory that are executable and belong to no
// mapped image or file: code made at run time.
size_t PrivateExecutableBytes();

// Milliseconds since an arbitrary start, for measuring bounded waits.
double NowMs();

// Calls createProcess (a CreateProcess call) and tries it again when the
// emulator reports that the new process died before running any code of its
// own (ERROR_INTERNAL_ERROR): that start failed, not the case. On failure the
// last error is the one CreateProcess left.
bool StartChildProcess(const std::function<BOOL()>& createProcess);

// Runs this test program again in a child process with only the tests that
// match the filter, for cases that leave a process unusable or must be
// watched from outside. Returns the child's exit code, or -1 when it did
// not end within timeoutMs (it is then killed).
int RunTestsInChild(const std::string& filter, DWORD timeoutMs);
// True inside such a child.
bool InChildProcess();

// True under Wine, where a few Windows guarantees do not hold.
bool RunsUnderWine();

}  // namespace testing_support
