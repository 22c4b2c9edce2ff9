// ShutdownOB while the worker is stuck on a console: it comes back at once
// and leaves nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "tests/network/network_support.h"
#include "tests/support/test_support.h"
#include "tools/processor_module/test_api.h"

namespace network_test {
namespace {

TEST(ShutdownDuringWork, StalledTransferEndsThroughTheFailurePath) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--fault", "stall"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(console.WaitFor("stalling", 10000)) << console.Log();
  Sleep(200);  // the worker is waiting for more of the image now

  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_TRUE(host.WaitForLine(kStatusLine, "Unable to connect to Corvane")) << host.Line(kStatusLine);
  EXPECT_EQ(host.Line(kInfoLine), "Shutting down connection...");
  EXPECT_EQ(LoadedModule(), nullptr);
  EXPECT_TRUE(console.WaitFor("the loader closed the stalled connection", 5000)) << console.Log();
}

TEST(ShutdownDuringWork, ModuleThatNeverReportsLoadedIsShutDownWithoutTheCallback) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--module", "processor_module_never_loaded.dll"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(testing_support::WaitUntil([] { return ModuleCallLog().find("LaunchOBExt") != std::string::npos; },
                                         kRunningTimeoutMs));
  EXPECT_TRUE(host.WaitForLine(kStatusLine, "VexaNet"));
  Sleep(200);  // the worker is waiting for the loaded report now
  unsigned char* data = nullptr;
  EXPECT_FALSE(host.GetDMXBuffer(0, &data));

  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_EQ(gRunning.ones.load(), 0);
  EXPECT_EQ(LoadedModule(), nullptr);
  EXPECT_EQ(host.Line(kStatusLine), "VexaNet");
  EXPECT_EQ(GetFileAttributesA(ImagePath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(AnotherLoaderChild, LoadsAndShutsDown) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  Host other;
  ASSERT_NE(other.window, nullptr);
  other.ShutdownOB(1);
}

// Another host's ShutdownOB on the same desktop sets the shared event: here
// once by hand and once by a loader in another process.
TEST(ShutdownDuringWork, AnotherLoadersShutdownDoesNotEndTheWaitForTheModule) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--module", "processor_module_never_loaded.dll"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(host.WaitForLine(kStatusLine, "VexaNet"));
  HANDLE othersShutdown = OpenEventA(EVENT_MODIFY_STATE, FALSE, "SHUTTINGDOWN_EVENT");
  ASSERT_NE(othersShutdown, nullptr);
  SetEvent(othersShutdown);
  CloseHandle(othersShutdown);
  EXPECT_EQ(testing_support::RunTestsInChild("AnotherLoaderChild.*", 60000), 0);
  Sleep(200);  // room for a worker that would take the signal as its own
  auto report =
      reinterpret_cast<TestReportStatusFn>(reinterpret_cast<void*>(GetProcAddress(LoadedModule(), "TestReportStatus")));
  ASSERT_NE(report, nullptr);
  report(5, "");
  EXPECT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
}

// The module's buffers go in its own ShutdownOB: no host read may be inside
// it by then, nor enter it afterwards.
TEST(ShutdownFromTheHost, HostReadsAreKeptOutOfTheModuleWhileItShutsDown) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::thread reader([&] {
    unsigned char* data;
    while (!stop.load()) served += host.GetDMXBuffer(static_cast<uint16_t>(served.load() % 32), &data) ? 1 : 0;
  });
  ASSERT_TRUE(testing_support::WaitUntil([&] { return served.load() > 1000; }, kRunningTimeoutMs));
  SetEnvironmentVariableA(kCallsInShutdownVariable, nullptr);
  host.TimedShutdown();
  stop = true;
  reader.join();
  char calls[16] = "";
  GetEnvironmentVariableA(kCallsInShutdownVariable, calls, sizeof(calls));
  EXPECT_STREQ(calls, "0");
}

Host* gCallbackHost = nullptr;

void IXA_CALL ShutDownOnceRunning(int32_t running) {
  RecordRunning(running);
  if (running == 1) gCallbackHost->ShutdownOB(0);
}

TEST(ShutdownFromTheHost, InsideTheRunningCallbackReturnsAndLeavesTheLibraryReady) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  gCallbackHost = &host;
  host.SetRunningCallback(&ShutDownOnceRunning);
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  // The nested ShutdownOB still calls back with 0 first.
  EXPECT_TRUE(testing_support::WaitUntil([] { return gRunning.zeros.load() == 1; }, kRunningTimeoutMs));
  EXPECT_TRUE(testing_support::WaitUntil([] { return LoadedModule() == nullptr; }, kRunningTimeoutMs));
  EXPECT_TRUE(host.WaitForLine(kInfoLine, "Shutting down connection..."));

  host.SetRunningCallback(&RecordRunning);
  host.StartDetect();
  EXPECT_TRUE(host.WaitRunning(2)) << host.Line(kInfoLine);
}

TEST(ShutdownFromTheHost, AModuleFaultingInItsOwnShutdownIsStillUnloaded) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  SetEnvironmentVariableA("IXA_MODULE_FAULT", "ShutdownOB");
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  SetEnvironmentVariableA("IXA_MODULE_FAULT", nullptr);
  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_EQ(LoadedModule(), nullptr);
  EXPECT_EQ(GetFileAttributesA(ImagePath().c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(host.WaitForLine(kInfoLine, "Shutting down connection..."));
}

bool LibraryMapped() { return GetModuleHandleA("IxaLoader.dll") != nullptr; }

std::atomic<bool> gCallbackReturned{false};

void IXA_CALL ShutDownAndCloseOnceRunning(int32_t running) {
  RecordRunning(running);
  if (running != 1) return;
  gCallbackHost->ShutdownOB(1);
  gCallbackReturned = true;
}

// ShutdownOB(1) on the worker cannot wait for the worker itself: it ends as
// the callback returns, and the library goes with the host's free.
TEST(ShutdownFromTheHost, WithCloseInsideTheRunningCallbackUnmapsOnceTheWorkerHasEnded) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  gCallbackHost = &host;
  gCallbackReturned = false;
  host.SetRunningCallback(&ShutDownAndCloseOnceRunning);
  host.StartDetect();
  ASSERT_TRUE(testing_support::WaitUntil([] { return gCallbackReturned.load(); }, kRunningTimeoutMs))
      << host.Line(kInfoLine);
  EXPECT_EQ(gRunning.zeros.load(), 1);
  EXPECT_FALSE(IsWindow(host.window));
  FreeLibrary(host.dll);
  host.dll = nullptr;
  EXPECT_TRUE(testing_support::WaitUntil([] { return !LibraryMapped(); }, 10000));
}

// Shut down with close, then freed, wherever the worker is: nothing of the
// library is left as FreeLibrary returns, and no code was made at run time.
TEST(ShutdownWithClose, InEveryStateTheFreeThatFollowsUnmapsTheLibrary) {
  const int threads = testing_support::CountThreads();
  for (const char* state : kHostStates) {
    SCOPED_TRACE(state);
    const size_t executableBefore = testing_support::PrivateExecutableBytes();
    Host host;
    std::unique_ptr<Simulator> console;
    std::unique_ptr<SocketsWithdrawn> withdrawn;
    ASSERT_TRUE(ReachState(host, state, &console, &withdrawn)) << host.Line(kInfoLine);
    EXPECT_LE(testing_support::PrivateExecutableBytes(), executableBefore);
    host.ShutdownOB(1);
    FreeLibrary(host.dll);
    host.dll = nullptr;
    EXPECT_FALSE(LibraryMapped());
  }
  // The system's own thread-pool workers idle out after about 5 s.
  EXPECT_TRUE(testing_support::WaitUntil([&] { return testing_support::CountThreads() <= threads; }, 10000));
}

constexpr int kHostExitCode = 42;
constexpr char kExitStateVariable[] = "IXA_EXIT_STATE";

// The host ends its process with the library in the state named in the
// environment, never shut down.
TEST(ProcessExitChild, TheHostEndsItsProcessInTheNamedState) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  char state[64] = "";
  GetEnvironmentVariableA(kExitStateVariable, state, sizeof(state));
  // Left as they are to the end; the simulator goes with the statics.
  static Host* host = new Host;
  static std::unique_ptr<Simulator> console;
  static std::unique_ptr<SocketsWithdrawn> withdrawn;
  ASSERT_TRUE(ReachState(*host, state, &console, &withdrawn));
  std::exit(kHostExitCode);
}

TEST(ProcessExit, InEveryStateTheProcessEndsWithTheHostsCode) {
  for (const char* state : kHostStates) {
    SetEnvironmentVariableA(kExitStateVariable, state);
    EXPECT_EQ(testing_support::RunTestsInChild("ProcessExitChild.*", 60000), kHostExitCode) << state;
  }
  SetEnvironmentVariableA(kExitStateVariable, nullptr);
}

// A host thread's module call that does not come back within ShutdownOB's
// wait: the module stays loaded, and so does the library its threads report
// into, for the rest of the process.
TEST(LifetimeChild, AModuleCallThatDoesNotReturnKeepsTheLibraryLoadedForItsReports) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  SetEnvironmentVariableA("IXA_MODULE_SEND_MS", "6000");
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  std::thread stuck([&] { host.SelectFixture(1); });
  char flag[4];
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] { return GetEnvironmentVariableA(kInSendVariable, flag, sizeof(flag)) > 0; }, kRunningTimeoutMs));
  auto reportLater =
      reinterpret_cast<TestReportLaterFn>(reinterpret_cast<void*>(GetProcAddress(LoadedModule(), "TestReportLater")));
  ASSERT_NE(reportLater, nullptr);
  host.ShutdownOB(1);
  reportLater(100, 0, "after the free");
  FreeLibrary(host.dll);
  host.dll = nullptr;
  EXPECT_TRUE(LibraryMapped());
  EXPECT_NE(LoadedModule(), nullptr);
  EXPECT_TRUE(testing_support::WaitUntil(
      [&] { return GetEnvironmentVariableA(kLateReportedVariable, flag, sizeof(flag)) > 0; }, kRunningTimeoutMs));
  stuck.join();
  EXPECT_TRUE(LibraryMapped());
}

TEST(Lifetime, RowsInAChildProcess) { EXPECT_EQ(testing_support::RunTestsInChild("LifetimeChild.*", 120000), 0); }

}  // namespace
}  // namespace network_test
