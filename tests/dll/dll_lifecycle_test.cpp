// Loading, starting, shutting down and unloading the real library in this
// process, as a host does.
#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <shellapi.h>

#include <atomic>
#include <thread>

#include "IxaLoader.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ControlText;
using testing_support::CountThreads;
using testing_support::FindOwnWindow;
using testing_support::NowMs;
using testing_support::WaitUntil;

constexpr int kInfoLine = 1007;
// Far above any real wait: only a hang trips it.
constexpr double kHangGuardMs = 15000;

struct Library {
  HMODULE dll = LoadLibraryA("IxaLoader.dll");
  IXA_PFN_StartDetect StartDetect = Get<IXA_PFN_StartDetect>("StartDetect");
  IXA_PFN_StartDetectExt StartDetectExt = Get<IXA_PFN_StartDetectExt>("StartDetectExt");
  IXA_PFN_ShutdownOB ShutdownOB = Get<IXA_PFN_ShutdownOB>("ShutdownOB");
  IXA_PFN_SetRunningCallback SetRunningCallback = Get<IXA_PFN_SetRunningCallback>("SetRunningCallback");
  IXA_PFN_GetDMXBuffer GetDMXBuffer = Get<IXA_PFN_GetDMXBuffer>("GetDMXBuffer");

  template <typename Fn>
  Fn Get(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  }

  // FreeLibrary, returning how long it took.
  double Unload() {
    double start = NowMs();
    FreeLibrary(dll);
    dll = nullptr;
    return NowMs() - start;
  }
};

HWND WaitForStatusWindow() {
  HWND hwnd = nullptr;
  WaitUntil([&] { return (hwnd = FindOwnWindow("Vexa Visualiser")) != nullptr && IsWindowVisible(hwnd); }, 5000);
  return hwnd;
}

bool EventIsSet(const char* name) {
  HANDLE event = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
  if (event == nullptr) return false;
  bool set = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  CloseHandle(event);
  return set;
}

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

// Threads of this process started through the C runtime, as the library
// starts its own. The system's pool workers come and go on their own
// schedule; they are not counted.
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

DWORD HandleCount() {
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  return handles;
}

std::atomic<int> gCallbackCalls{0};
std::atomic<int> gCallbackValue{-1};
void IXA_CALL RecordRunning(int32_t running) {
  gCallbackCalls.fetch_add(1);
  gCallbackValue.store(running);
}

TEST(DllLifecycle, LoadShowsTheStatusWindowAndShutdownWithCloseEndsIt) {
  Library lib;
  ASSERT_NE(lib.dll, nullptr);
  HWND window = WaitForStatusWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(EventIsSet("ORB_DIALOG_DISPLAYED_EVENT"));

  lib.ShutdownOB(1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(EventIsSet("ORB_DIALOG_CLOSED_EVENT"));
  EXPECT_LT(lib.Unload(), kHangGuardMs);
}

TEST(DllLifecycle, ShutdownWithoutDetectionCallsBackWithZeroAndSaysSo) {
  Library lib;
  HWND window = WaitForStatusWindow();
  ASSERT_NE(window, nullptr);
  gCallbackCalls = 0;
  lib.SetRunningCallback(&RecordRunning);
  lib.ShutdownOB(0);
  EXPECT_EQ(gCallbackCalls.load(), 1);
  EXPECT_EQ(gCallbackValue.load(), 0);
  EXPECT_TRUE(WaitUntil([&] { return ControlText(window, kInfoLine) == "Shutting down connection..."; }, 5000));
  EXPECT_TRUE(IsWindow(window)) << "ShutdownOB(false) must leave the window open";

  // A null callback means no host call at all.
  lib.SetRunningCallback(nullptr);
  lib.ShutdownOB(0);
  EXPECT_EQ(gCallbackCalls.load(), 1);
  lib.ShutdownOB(1);
  lib.Unload();
}

TEST(DllLifecycle, UnloadWithoutShutdownReturnsAndRemovesTheWindow) {
  Library lib;
  HWND window = WaitForStatusWindow();
  ASSERT_NE(window, nullptr);
  lib.StartDetect();
  EXPECT_LT(lib.Unload(), kHangGuardMs);
  // A thread of the library may have held it a moment longer, and unloads
  // it as it lets go.
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window) && GetModuleHandleA("IxaLoader.dll") == nullptr; }, 10000));
}

// Unloads that catch a thread of the library where the system needs the
// loader lock the unload holds (half-way into creating its window, say):
// one that went wrong would leave its process unusable, so these run in a
// process of their own.
TEST(DllUnloadRace, ChildUnloadRightAfterLoad) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  Library lib;
  ASSERT_NE(lib.dll, nullptr);
  EXPECT_LT(lib.Unload(), kHangGuardMs);
}

// A host scanning its plug-ins frees the library at any moment after
// loading it: each time it is unmapped, and it loads again.
TEST(DllUnloadRace, ChildFreeAtDelaysUnmapsAndLoadsAgain) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  for (DWORD delayMs : {0, 0, 5, 20, 50, 100, 200, 500}) {
    Library lib;
    ASSERT_NE(lib.dll, nullptr) << delayMs;
    Sleep(delayMs);
    EXPECT_LT(lib.Unload(), 1000) << delayMs;
    EXPECT_TRUE(WaitUntil([] { return GetModuleHandleA("IxaLoader.dll") == nullptr; }, 10000)) << delayMs;
  }
}

// In the window's loop, the system waits for the loader lock the unload
// holds (as when it loads a library for the window): the thread is
// abandoned there and ends once the library is gone.
std::atomic<bool> gHookWaits{false};
LRESULT CALLBACK WaitForTheLoaderLock(int code, WPARAM wParam, LPARAM lParam) {
  if (gHookWaits.exchange(false)) {
    // Bounded, so that a window still holding the library (below) cannot
    // hang the test.
    const double giveUp = NowMs() + 5000;
    while (GetModuleHandleA("IxaLoader.dll") != nullptr && NowMs() < giveUp) Sleep(1);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(DllUnloadRace, ChildFreeWhileTheWindowLoopWaitsForTheLoaderLock) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  Library lib;
  HWND window = WaitForStatusWindow();
  ASSERT_NE(window, nullptr);
  // A window just made holds the library until its loop has gone idle.
  Sleep(200);
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &WaitForTheLoaderLock, nullptr, GetWindowThreadProcessId(window, nullptr));
  ASSERT_NE(hook, nullptr);
  gHookWaits.store(true);
  PostMessageW(window, WM_NULL, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return !gHookWaits.load(); }, 5000));
  HANDLE closed = OpenEventA(SYNCHRONIZE, FALSE, "ORB_DIALOG_CLOSED_EVENT");
  EXPECT_LT(lib.Unload(), kHangGuardMs);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_OBJECT_0);  // its loop ended, as far as anyone can tell
  CloseHandle(closed);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window) && GetModuleHandleA("IxaLoader.dll") == nullptr; }, 10000));
  UnhookWindowsHookEx(hook);
  Library again;
  EXPECT_NE(WaitForStatusWindow(), nullptr);
  EXPECT_LT(again.Unload(), kHangGuardMs);
}

// A host thread still inside ShutdownOB (here in the running callback) as
// another frees the library: the free only drops that reference, and the
// unload runs as ShutdownOB returns, straight to the host.
std::atomic<int> gCallbackState{0};  // 1 inside, 2 released
void IXA_CALL HoldInsideTheCallback(int32_t) {
  gCallbackState.store(1);
  while (gCallbackState.load() != 2) Sleep(1);
}

TEST(DllUnloadRace, ChildFreeWhileAHostThreadIsInsideShutdown) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  Library lib;
  ASSERT_NE(WaitForStatusWindow(), nullptr);
  lib.SetRunningCallback(&HoldInsideTheCallback);
  std::thread host([shutdown = lib.ShutdownOB] { shutdown(0); });
  ASSERT_TRUE(WaitUntil([] { return gCallbackState.load() == 1; }, 5000));
  EXPECT_LT(lib.Unload(), kHangGuardMs);
  EXPECT_NE(GetModuleHandleA("IxaLoader.dll"), nullptr);
  gCallbackState.store(2);
  host.join();
  EXPECT_TRUE(WaitUntil([] { return GetModuleHandleA("IxaLoader.dll") == nullptr; }, 10000));
}

TEST(DllLifecycle, UnloadRightAfterLoadNeitherHangsNorCrashes) {
  for (int i = 0; i < 3; ++i) EXPECT_EQ(testing_support::RunTestsInChild("DllUnloadRace.*", 120000), 0);
}

// A notification area that does not answer the icon's removal until
// released, as a hung shell; topmost, so it is found before the desktop's.
class HungTray {
 public:
  HungTray() : thread_([this] { Run(); }) { WaitForSingleObject(ready_, 10000); }
  ~HungTray() {
    Release();
    PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  void Release() { SetEvent(gRelease); }

 private:
  static inline HANDLE gRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA && reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData == NIM_DELETE) {
      WaitForSingleObject(gRelease, INFINITE);
    }
    if (message == WM_CLOSE) PostQuitMessage(0);
    return message == WM_COPYDATA ? TRUE : DefWindowProcW(hwnd, message, wParam, lParam);
  }
  void Run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", nullptr, WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, windowClass.hInstance, nullptr);
    SetEvent(ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    DestroyWindow(window_);
    UnregisterClassW(L"Shell_TrayWnd", windowClass.hInstance);
  }

  HANDLE ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND window_ = nullptr;
  std::thread thread_;
};

// The unload waits for no other process: a shell that does not answer
// leaves the window's thread behind in code that outlives the library.
TEST(DllLifecycle, UnloadWhileTheShellHangsUnmapsTheLibraryAndItLoadsAgain) {
  HungTray tray;
  {
    Library lib;
    ASSERT_NE(WaitForStatusWindow(), nullptr);
    EXPECT_LT(lib.Unload(), kHangGuardMs);
  }
  EXPECT_TRUE(WaitUntil([] { return GetModuleHandleA("IxaLoader.dll") == nullptr; }, 10000));
  tray.Release();
  Library again;
  ASSERT_NE(again.dll, nullptr);
  ASSERT_NE(WaitForStatusWindow(), nullptr);
  again.ShutdownOB(1);
  again.Unload();
}

TEST(DllLifecycle, SecondStartStartsNoSecondWorker) {
  Library lib;
  ASSERT_NE(WaitForStatusWindow(), nullptr);
  // The window's thread alone, once an earlier test's threads have ended.
  EXPECT_TRUE(WaitUntil([] { return CountRuntimeThreads() == 1; }, 10000)) << CountRuntimeThreads();
  EXPECT_EQ(lib.StartDetectExt(7), 1);
  EXPECT_EQ(CountRuntimeThreads(), 2);
  EXPECT_EQ(lib.StartDetect(), 1);
  EXPECT_EQ(CountRuntimeThreads(), 2);
  lib.ShutdownOB(1);
  lib.Unload();
}

TEST(DllLifecycle, StartAfterTheWindowWasClosedStartsNothing) {
  Library lib;
  ASSERT_NE(WaitForStatusWindow(), nullptr);
  lib.ShutdownOB(1);
  int before = CountThreads();
  EXPECT_EQ(lib.StartDetect(), 1);
  EXPECT_EQ(lib.StartDetectExt(3), 1);
  EXPECT_EQ(CountThreads(), before);
  unsigned char* buffer = nullptr;
  EXPECT_EQ(lib.GetDMXBuffer(0, &buffer), 0);
  ASSERT_NE(buffer, nullptr);
  lib.ShutdownOB(0);  // safe in this state too
  lib.Unload();
}

TEST(DllLifecycle, RepeatedLoadAndUnloadLeaksNoThreadsOrHandles) {
  // Warm up once so lazily created system objects are not counted as leaks.
  { Library warm; warm.ShutdownOB(1); warm.Unload(); }
  int threads = CountThreads();
  DWORD handles = HandleCount();
  for (int i = 0; i < 20; ++i) {
    Library lib;
    ASSERT_NE(lib.dll, nullptr);
    ASSERT_NE(WaitForStatusWindow(), nullptr);
    lib.StartDetect();
    if (i % 2 == 0) lib.ShutdownOB(1);
    EXPECT_LT(lib.Unload(), kHangGuardMs);
  }
  // Threads parked by an unload finish exiting once the loader lock is free;
  // the system's own thread-pool workers idle out after about 5 s.
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threads; }, 10000)) << CountThreads() << " vs " << threads;
  // Handles of threads still ending are closed as they go.
  EXPECT_TRUE(WaitUntil([&] { return HandleCount() <= handles + 4; }, 10000))
      << "handles before " << handles << ", after " << HandleCount();
}

}  // namespace
