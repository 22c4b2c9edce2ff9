// ShutdownOB while the worker is stuck on a console: it comes back at once
// and leaves nothing behind.
#include <gtest/gtest.h>

#include <atomic>
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
  auto report = reinterpret_cast<TestReportStatusFn>(
      reinterpret_cast<void*>(GetProcAddress(LoadedModule(), "TestReportStatus")));
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

// A window its abandoned thread still closes may outlast the unmapping for
// a moment; the next load's window must not be taken for it.
bool OldWindowGone() {
  return testing_support::WaitUntil([] { return testing_support::FindOwnWindow("Vexa Visualiser") == nullptr; }, 10000);
}

// Unloading without ShutdownOB leaves the module running; a report from one
// of its threads afterwards must not reach the unmapped library.
TEST(UnloadWithTheModuleRunningChild, AReportAfterTheUnloadIsHarmless) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  auto reportLater = reinterpret_cast<TestReportLaterFn>(
      reinterpret_cast<void*>(GetProcAddress(LoadedModule(), "TestReportLater")));
  ASSERT_NE(reportLater, nullptr);
  reportLater(300, 0, "after the unload");
  FreeLibrary(host.dll);
  host.dll = nullptr;
  Sleep(1000);
  EXPECT_TRUE(OldWindowGone());
  EXPECT_NE(LoadedModule(), nullptr);
  EXPECT_NE(GetFileAttributesA(ImagePath().c_str()), INVALID_FILE_ATTRIBUTES);
}

// The window's thread holds the library through a Reconnect and while it
// makes the Patch dialog; the unload then runs there as it lets go.
TEST(UnloadWithTheModuleRunningChild, AFreeDuringReconnectOrWithThePatchDialogOpenUnmapsTheLibrary) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  constexpr int kPatchButton = 1070;
  for (int button : {kReconnectButton, kPatchButton}) {
    // A module left loaded (here or by the row before) is this host's to
    // end before the next load saves its file.
    if (HMODULE module = LoadedModule()) {
      reinterpret_cast<void(__cdecl*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ShutdownOB")))();
      FreeLibrary(module);
    }
    Host host;
    ASSERT_NE(host.window, nullptr);
    Simulator console(host.Port(), {});
    ASSERT_TRUE(console.Ready()) << button << ": port " << host.Port() << "\n" << console.Log();
    host.StartDetect();
    ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine) << "\n" << console.Log();
    PostMessageA(host.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(host.window, button)));
    if (button == kPatchButton) {
      ASSERT_TRUE(testing_support::WaitUntil([] { return testing_support::FindOwnWindow("Patch") != nullptr; }, 5000));
    }
    FreeLibrary(host.dll);
    host.dll = nullptr;
    EXPECT_TRUE(testing_support::WaitUntil([] { return GetModuleHandleA("IxaLoader.dll") == nullptr; }, 10000))
        << button;
    EXPECT_TRUE(OldWindowGone()) << button;
  }
}

TEST(UnloadWithTheModuleRunning, RowsInAChildProcess) {
  EXPECT_EQ(testing_support::RunTestsInChild("UnloadWithTheModuleRunningChild.*", 120000), 0);
}

}  // namespace
}  // namespace network_test
