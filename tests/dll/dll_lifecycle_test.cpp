// Loading, starting, shutting down and unloading the real library in this
// process, as a host does.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "IxaLoader.h"
#include "tests/support/test_support.h"
#include "ui/resource.h"

namespace {

using testing_support::ControlText;
using testing_support::CountRuntimeThreads;
using testing_support::CountThreads;
using testing_support::FindOwnWindow;
using testing_support::NowMs;
using testing_support::WaitUntil;

constexpr int kInfoLine = IDC_INFO_LINE;
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

bool LibraryMapped() { return GetModuleHandleA("IxaLoader.dll") != nullptr; }

// Without ShutdownOB(1) the host's FreeLibrary drops only its own
// reference: the library goes on, window and worker included, and a load
// gets the same instance; ShutdownOB(1) then lets the next free unmap it.
TEST(DllLifecycle, FreeAloneLeavesTheLibraryRunningUntilShutdownWithClose) {
  Library lib;
  HWND window = WaitForStatusWindow();
  ASSERT_NE(window, nullptr);
  lib.StartDetect();
  const HMODULE first = lib.dll;
  EXPECT_LT(lib.Unload(), kHangGuardMs);
  EXPECT_TRUE(LibraryMapped());
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer), 0) << "the window answers";
  EXPECT_TRUE(IsWindowVisible(window));

  Library again;
  EXPECT_EQ(again.dll, first);
  again.ShutdownOB(1);
  EXPECT_FALSE(IsWindow(window));
  again.Unload();
  EXPECT_FALSE(LibraryMapped()) << "unmapped as FreeLibrary returns";
}

// Loaded, started and shut down at once, as a host scanning its plug-ins
// does: nothing of the library is left once FreeLibrary returns, and no
// code was made at run time.
TEST(DllLifecycle, ShutdownWithCloseThenFreeUnmapsAtOnceAndLeavesNoCodeBehind) {
  const size_t executableBefore = testing_support::PrivateExecutableBytes();
  for (DWORD delayMs : {0, 0, 5, 50}) {
    Library lib;
    ASSERT_NE(lib.dll, nullptr) << delayMs;
    Sleep(delayMs);
    lib.StartDetect();
    EXPECT_LE(testing_support::PrivateExecutableBytes(), executableBefore) << delayMs;
    lib.ShutdownOB(1);
    lib.Unload();
    EXPECT_FALSE(LibraryMapped()) << delayMs;
  }
}

// Another program may own the name of a named event (here as a mutex): the
// library goes on without that event.
TEST(DllLifecycle, AnEventNameTakenByAnotherObjectDoesNotStopTheLoad) {
  HANDLE taken = CreateMutexA(nullptr, FALSE, "ORB_DIALOG_CLOSED_EVENT");
  ASSERT_NE(taken, nullptr);
  {
    Library lib;
    ASSERT_NE(lib.dll, nullptr);
    ASSERT_NE(WaitForStatusWindow(), nullptr);
    lib.ShutdownOB(1);
    lib.Unload();
  }
  CloseHandle(taken);
}

TEST(DllLifecycle, SecondStartStartsNoSecondWorker) {
  Library lib;
  ASSERT_NE(WaitForStatusWindow(), nullptr);
  // The window's thread alone, once an earlier test's threads have ended.
  EXPECT_TRUE(WaitUntil([] { return CountRuntimeThreads() == 1; }, 10000)) << CountRuntimeThreads();
  EXPECT_EQ(lib.StartDetectExt(7), 1);
  // The system names a thread's start once it runs.
  EXPECT_TRUE(WaitUntil([] { return CountRuntimeThreads() == 2; }, 10000)) << CountRuntimeThreads();
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

TEST(DllLifecycle, RepeatedShutdownAndFreeLeaksNoThreadsOrHandles) {
  // Warm up once so lazily created system objects are not counted as leaks.
  {
    Library warm;
    warm.StartDetect();
    warm.ShutdownOB(1);
    warm.Unload();
  }
  int threads = CountThreads();
  DWORD handles = HandleCount();
  for (int i = 0; i < 20; ++i) {
    Library lib;
    ASSERT_NE(lib.dll, nullptr);
    ASSERT_NE(WaitForStatusWindow(), nullptr);
    if (i % 2 == 0) lib.StartDetect();
    lib.ShutdownOB(1);
    lib.Unload();
    ASSERT_FALSE(LibraryMapped()) << i;
  }
  // The system's own thread-pool workers idle out after about 5 s.
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threads; }, 10000)) << CountThreads() << " vs " << threads;
  EXPECT_TRUE(WaitUntil([&] { return HandleCount() <= handles + 4; }, 10000))
      << "handles before " << handles << ", after " << HandleCount();
}

}  // namespace
