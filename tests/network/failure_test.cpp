// Every way a connection attempt can fail after discovery: the exact text
// on the Info line, "Unable to connect to Corvane" on the Status line, no
// module left loaded, no file left locked, and a Reconnect that works once
// the console is healthy again.
#include <gtest/gtest.h>

#include "os/win32/sha256.h"
#include "tests/network/network_support.h"
#include "tests/support/test_support.h"
#include "tools/processor_module/test_api.h"

namespace network_test {
namespace {

constexpr char kFailureStatus[] = "Unable to connect to Corvane";

struct FailureRow {
  const char* name;
  std::vector<std::string> console;
  const char* info;
  // Wine keeps a library whose import is missing mapped after the failed
  // load, so the file stays locked for the rest of the process: neither the
  // file check nor a Reconnect can then tell anything about the loader. That
  // row runs in a process of its own (see CMakeLists.txt).
  bool imageStaysMapped = false;
  // The entry point the stand-in module faults in (an access violation).
  const char* moduleFault = nullptr;
  // Refused before it is written anywhere: none of its code may have run.
  bool neverLoaded = false;
  // A failure that may mend itself: the worker waits 5 s and tries again.
  bool retried = false;
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

// Fails the attempt, checks what is left, then reconnects to a healthy
// console on the same port.
void ExpectFailureThenReconnect(Host& host, Simulator& faulty, const FailureRow& row) {
  SetEnvironmentVariableA("IXA_MODULE_FAULT", row.moduleFault);
  SetEnvironmentVariableA(kAttachedVariable, nullptr);
  host.StartDetect();
  EXPECT_TRUE(host.WaitForLine(kStatusLine, kFailureStatus)) << host.Line(kStatusLine) << "\n" << faulty.Log();
  if (row.retried) {
    EXPECT_TRUE(host.WaitForLine(kInfoLine, std::string(row.info) + " - retrying in 5 s")) << host.Line(kInfoLine);
  } else {
    // The worker ends: nobody is left to change the line.
    EXPECT_TRUE(
        testing_support::WaitUntil([] { return testing_support::CountRuntimeThreads() == 1; }, kRunningTimeoutMs));
    EXPECT_EQ(host.Line(kInfoLine), row.info);
  }
  char attached[4];
  if (row.neverLoaded) {
    EXPECT_EQ(GetEnvironmentVariableA(kAttachedVariable, attached, sizeof(attached)), 0u);
  }
  SetEnvironmentVariableA("IXA_MODULE_FAULT", nullptr);
  // The module is freed after the text, once its own ShutdownOB is done.
  EXPECT_TRUE(testing_support::WaitUntil([] { return LoadedModule() == nullptr; }, kRunningTimeoutMs));
  EXPECT_EQ(gRunning.ones.load(), 0);
  if (row.imageStaysMapped) return;
  EXPECT_TRUE(FileIsFree(ImagePath()));

  faulty.Stop();
  Simulator healthy(host.Port(), {});
  ASSERT_TRUE(healthy.Ready()) << healthy.Log();
  host.ShutdownOB(0);
  host.StartDetect();
  EXPECT_TRUE(host.WaitRunning()) << host.Line(kInfoLine) << "\n" << healthy.Log();
  EXPECT_NE(LoadedModule(), nullptr);
}

class ConnectionFailure : public testing::TestWithParam<FailureRow> {};

TEST_P(ConnectionFailure, ShowsItsTextTakesTheFailurePathAndAllowsReconnect) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator faulty(host.Port(), GetParam().console);
  ASSERT_TRUE(faulty.Ready()) << faulty.Log();
  ExpectFailureThenReconnect(host, faulty, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectionFailure,
    testing::Values(
        FailureRow{"NoTcpListener", {"--fault", "refuse"}, "Connection error: 10061", false, nullptr, false, true},
        FailureRow{
            "ClosedWithoutData", {"--fault", "close-at-once"}, "DP image not recieved", false, nullptr, false, true},
        FailureRow{"ClosedMidImage", {"--fault", "cut"}, "Virtual DP DLL file corrupt", false, nullptr, true},
        FailureRow{"StalledConsole", {"--fault", "stall"}, "Recieve error: 10060, ", false, nullptr, false, true},
        FailureRow{"ImageTooLarge", {"--fault", "oversize"}, "DP image too large"},
        FailureRow{"NotALibrary", {"--fault", "not-dll"}, "Virtual DP DLL file corrupt", false, nullptr, true},
        FailureRow{"MissingDependency",
                   {"--module", "processor_module_missing_dependency.dll"},
                   "Could not load one or more required DLL's",
                   true},
        FailureRow{"MissingEntryPoint",
                   {"--module", "processor_module_missing_entry.dll"},
                   "Couldn't build table",
                   false,
                   nullptr,
                   true},
        FailureRow{"NeedsNewerLoader", {"--module", "processor_module_v311.dll"}, "Loader version is old (need 3.11)"},
        // A module that faults is treated as one that failed, and the host
        // never sees the fault.
        FailureRow{"FaultInGetLoaderVersion", {}, "Virtual DP DLL failed", false, "GetLoaderVersion"},
        FailureRow{"FaultInSetStatusCallback", {}, "Virtual DP DLL failed", false, "SetStatusCallback"},
        FailureRow{"FaultInLaunchOBExt", {}, "Virtual DP DLL failed", false, "LaunchOBExt"},
        FailureRow{"FaultInGetAvailableNodes", {}, "Virtual DP DLL failed", false, "GetAvailableNodes"},
        FailureRow{"FaultInConnectToNode", {}, "Virtual DP DLL failed", false, "ConnectToNode"}),
    [](const testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// A folder of this process's name found in the way (here holding a hard
// link to another file) is neither written through nor used: the image goes
// to a new folder. With every name in the way, nothing is saved. While the
// module loads, its file cannot be opened for writing.
TEST(ConnectionFailure, FoldersFoundInTheWayAreNeverUsed) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  const std::string planted = FolderOf(ImagePath());
  const std::string victim = FolderOf(planted) + "\\victim.bin";
  // Another process of this number may have ended without removing its own.
  DeleteFileA(ImagePath().c_str());
  RemoveDirectoryA(planted.c_str());
  HANDLE file = CreateFileA(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "untouched", 9, &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkA(ImagePath().c_str(), victim.c_str(), nullptr));

  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  char path[MAX_PATH] = "";
  GetModuleFileNameA(LoadedModule(), path, sizeof(path));
  EXPECT_EQ(FolderOf(path), planted + "-1");
  char writable[4] = "";
  GetEnvironmentVariableA(kWritableWhileLoadingVariable, writable, sizeof(writable));
  EXPECT_STREQ(writable, "0");
  host.ShutdownOB(0);
  HANDLE check = CreateFileA(victim.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  char content[16] = "";
  DWORD read = 0;
  ReadFile(check, content, sizeof(content) - 1, &read, nullptr);
  CloseHandle(check);
  EXPECT_STREQ(content, "untouched");

  for (int serial = 1; serial <= 16; ++serial)
    CreateDirectoryA((planted + "-" + std::to_string(serial)).c_str(), nullptr);
  host.StartDetect();
  EXPECT_TRUE(host.WaitForLine(kStatusLine, kFailureStatus)) << host.Line(kStatusLine);
  EXPECT_EQ(host.Line(kInfoLine), "Couldn't get file handle");
  EXPECT_EQ(LoadedModule(), nullptr);
  host.ShutdownOB(0);
  for (int serial = 1; serial <= 16; ++serial) RemoveDirectoryA((planted + "-" + std::to_string(serial)).c_str());
  DeleteFileA(ImagePath().c_str());
  RemoveDirectoryA(planted.c_str());
  DeleteFileA(victim.c_str());
}

// A console that answers discovery before its image server listens, as one
// still starting does: the worker gets there by itself, without a click.
TEST(ConnectionFailure, AConsoleStillStartingIsReachedWithoutAClick) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--listen-after", "3"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  EXPECT_TRUE(host.WaitForLine(kInfoLine, "Connection error: 10061 - retrying in 5 s")) << host.Line(kInfoLine);
  EXPECT_TRUE(host.WaitRunning()) << host.Line(kInfoLine) << "\n" << console.Log();
}

// ShutdownOB ends the wait at once and starts nothing; Reconnect starts a
// new attempt at once, whose wait is the first again. A site may turn the
// retries off.
TEST(ConnectionFailure, TheWaitBeforeATryAgainEndsWithShutdownOrReconnect) {
  {
    Host host;
    ASSERT_NE(host.window, nullptr);
    Simulator console(host.Port(), {"--fault", "refuse"});
    ASSERT_TRUE(console.Ready()) << console.Log();
    const std::string retry = "Connection error: 10061 - retrying in 5 s";
    host.StartDetect();
    ASSERT_TRUE(host.WaitForLine(kInfoLine, retry)) << host.Line(kInfoLine);
    EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
    EXPECT_TRUE(
        testing_support::WaitUntil([] { return testing_support::CountRuntimeThreads() == 1; }, kRunningTimeoutMs));
    host.StartDetect();
    ASSERT_TRUE(host.WaitForLine(kInfoLine, retry)) << host.Line(kInfoLine);
    const int requests = console.Count("discovery request");
    PostMessageA(host.window, WM_COMMAND, MAKEWPARAM(kReconnectButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(host.window, kReconnectButton)));
    ASSERT_TRUE(console.WaitFor("discovery request", kRunningTimeoutMs, requests + 1)) << console.Log();
    EXPECT_TRUE(host.WaitForLine(kInfoLine, retry)) << "a worker of its own, not the old one's second try";
  }
  StoredValue off("RetryAfterFailure", 0u);
  Host host;
  Simulator console(host.Port(), {"--fault", "refuse"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  EXPECT_TRUE(host.WaitForLine(kStatusLine, kFailureStatus)) << host.Line(kStatusLine);
  EXPECT_TRUE(
      testing_support::WaitUntil([] { return testing_support::CountRuntimeThreads() == 1; }, kRunningTimeoutMs));
  EXPECT_EQ(host.Line(kInfoLine), "Connection error: 10061");
}

// A policy that lists module digests runs only the modules it lists.
TEST(ConnectionFailure, AModuleWhoseDigestThePolicyDoesNotListIsRefused) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  const std::string module = testing_support::FileBytes("processor_module.dll");
  Os::Sha256Digest digest{};
  ASSERT_TRUE(Os::ComputeSha256(reinterpret_cast<const uint8_t*>(module.data()), module.size(), &digest));
  const std::string hex = Os::HexDigest(digest);
  {
    StoredValue trusted("TrustedModuleSha256", {std::string(64, '0')});
    SetEnvironmentVariableA(kAttachedVariable, nullptr);
    host.StartDetect();
    EXPECT_TRUE(host.WaitForLine(kStatusLine, kFailureStatus)) << host.Line(kStatusLine);
    EXPECT_EQ(host.Line(kInfoLine), "DP image not trusted (SHA-256 " + hex.substr(0, 16) + ")");
    char attached[4];
    EXPECT_EQ(GetEnvironmentVariableA(kAttachedVariable, attached, sizeof(attached)), 0u);
  }
  StoredValue trusted("TrustedModuleSha256", {"not a digest", hex});
  host.ShutdownOB(0);
  host.StartDetect();
  EXPECT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
}

TEST(ConnectionFailure, TemporaryPathTooLongCannotBeSaved) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--exit-after", "1"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  char tmp[MAX_PATH] = "";
  char temp[MAX_PATH] = "";
  GetEnvironmentVariableA("TMP", tmp, sizeof(tmp));
  GetEnvironmentVariableA("TEMP", temp, sizeof(temp));
  const std::string tooLong = "C:\\" + std::string(1100, 'd');
  SetEnvironmentVariableA("TMP", tooLong.c_str());
  SetEnvironmentVariableA("TEMP", tooLong.c_str());
  host.StartDetect();
  EXPECT_TRUE(host.WaitForLine(kStatusLine, kFailureStatus)) << host.Line(kStatusLine);
  EXPECT_EQ(host.Line(kInfoLine), "Couldn't save DP image");
  EXPECT_EQ(LoadedModule(), nullptr);
  SetEnvironmentVariableA("TMP", tmp[0] ? tmp : nullptr);
  SetEnvironmentVariableA("TEMP", temp[0] ? temp : nullptr);
}

}  // namespace
}  // namespace network_test
