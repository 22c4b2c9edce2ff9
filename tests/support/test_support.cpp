#include "tests/support/test_support.h"

#include <process.h>
#include <tlhelp32.h>

namespace testing_support {

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  double deadline = NowMs() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (NowMs() >= deadline) return false;
    Sleep(10);
  }
}

int CountThreads(bool (*counted)(DWORD threadId)) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    if (counted == nullptr || counted(entry.th32ThreadID)) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

namespace {

// Where a thread began, as the system recorded it.
ULONG_PTR StartAddress(HANDLE thread) {
  using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
  constexpr int kThreadQuerySetWin32StartAddress = 9;
  ULONG_PTR start = 0;
  if (query == nullptr || query(thread, kThreadQuerySetWin32StartAddress, &start, sizeof(start), nullptr) != 0) {
    return 0;
  }
  return start;
}

// The system records where a thread began once it runs.
unsigned __stdcall RecordOwnStart(void* start) {
  *static_cast<ULONG_PTR*>(start) = StartAddress(GetCurrentThread());
  return 0;
}

}  // namespace

int CountRuntimeThreads() {
  static const ULONG_PTR runtimeStart = [] {
    ULONG_PTR start = 0;
    HANDLE probe = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RecordOwnStart, &start, 0, nullptr));
    WaitForSingleObject(probe, INFINITE);
    CloseHandle(probe);
    return start;
  }();
  if (runtimeStart == 0) return 0;
  return CountThreads([](DWORD id) {
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    if (thread == nullptr) return false;
    const bool ours = StartAddress(thread) == runtimeStart;
    CloseHandle(thread);
    return ours;
  });
}

namespace {

struct WindowSearch {
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchOwnWindow(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char text[256] = {};
  GetWindowTextA(hwnd, text, sizeof(text));
  if (pid == GetCurrentProcessId() && std::string(text) == search->title) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindOwnWindow(const char* title) {
  WindowSearch search{title, nullptr};
  EnumWindows(&MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string ControlText(HWND dialog, int id) {
  char text[512] = {};
  GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  // Also a file another writer still appends to.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[64 * 1024];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}

size_t PrivateExecutableBytes() {
  constexpr DWORD kExecutable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  size_t bytes = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE && (region.Protect & kExecutable) != 0) {
      bytes += region.RegionSize;
    }
  }
  return bytes;
}

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool StartChildProcess(const std::function<BOOL()>& createProcess) {
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    if (createProcess()) return true;
    if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == kAttempts) return false;
    Sleep(200);
  }
}

int RunTestsInChild(const std::string& filter, DWORD timeoutMs) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof(self));
  std::string command = "\"" + std::string(self) + "\" --gtest_filter=" + filter;
  SetEnvironmentVariableA("IXA_CHILD_TEST", "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  bool started = StartChildProcess([&] {
    return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  });
  SetEnvironmentVariableA("IXA_CHILD_TEST", nullptr);
  if (!started) return -2;
  int result = -1;
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result = static_cast<int>(code);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

bool InChildProcess() {
  char value[8];
  return GetEnvironmentVariableA("IXA_CHILD_TEST", value, sizeof(value)) > 0;
}

bool RunsUnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

}  // namespace testing_support
