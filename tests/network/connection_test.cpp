// A healthy console: discovery, transfer, launch, the running callback, and
// what ShutdownOB and Reconnect do afterwards.
#include <gtest/gtest.h>

#include "tests/network/network_support.h"
#include "tests/support/test_support.h"

namespace network_test {
namespace {

TEST(ConsoleConnection, StartsTheModuleAndShutdownRemovesItsHiddenFile) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--module", "processor_module.dll"});
  ASSERT_TRUE(console.Ready()) << console.Log();

  host.StartDetectExt(7);
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine) << "\n" << console.Log();
  EXPECT_EQ(gRunning.ones.load(), 1);
  EXPECT_TRUE(host.WaitForLine(kStatusLine, "VexaNet")) << host.Line(kStatusLine);
  EXPECT_TRUE(host.WaitForLine(kInfoLine, "")) << host.Line(kInfoLine);
  EXPECT_TRUE(host.WaitForLine(kSessionLine, "Session 1"));

  // One request, and the module arrived byte for byte.
  EXPECT_EQ(console.Count("image request: fa fa 00 0a"), 1) << console.Log();
  const std::string image = ImagePath();
  DWORD attributes = GetFileAttributesA(image.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  // The temporary attribute is asked for too, but Wine does not keep it.
  EXPECT_EQ(testing_support::FileBytes(image), testing_support::FileBytes("processor_module.dll"));

  std::string expectedStart = "GetLoaderVersion,SetStatusCallback,LaunchOBExt(" + std::to_string(host.Port()) + ",7)";
  EXPECT_EQ(ModuleCallLog().rfind(expectedStart, 0), 0u) << ModuleCallLog();

  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_EQ(gRunning.zeros.load(), 1);
  EXPECT_EQ(LoadedModule(), nullptr);
  EXPECT_EQ(GetFileAttributesA(image.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(image.substr(0, image.rfind('\\')).c_str()), INVALID_FILE_ATTRIBUTES) << "its folder";
}

// Each host saves its module in a folder of its own process.
void ExpectRunningOnItsOwnModule(Host& host) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(LoadedModule(), path, sizeof(path));
  EXPECT_STREQ(path, ImagePath().c_str());
  unsigned char* data = nullptr;
  ASSERT_TRUE(host.GetDMXBuffer(17, &data));
  EXPECT_EQ(data[0], 1);
}

TEST(SecondHostChild, ReachesRunningBesideTheFirst) {
  if (!testing_support::InChildProcess()) GTEST_SKIP() << "runs in a child process";
  Host host;
  ASSERT_NE(host.window, nullptr);
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  ExpectRunningOnItsOwnModule(host);
}

TEST(ConsoleConnection, RunningModuleServesThePatchedRows) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);
  // A second host in the same session, on the same console, while this
  // one's module is loaded.
  EXPECT_EQ(testing_support::RunTestsInChild("SecondHostChild.*", 60000), 0);
  ExpectRunningOnItsOwnModule(host);

  const std::string calls = ModuleCallLog();
  EXPECT_NE(calls.find("GetAvailableNodes(20),ConnectToNode(1),ConnectToNode(2)"), std::string::npos) << calls;
  // Default patch: rows 0..15 are DP 1 (port 0), rows 16..31 DP 2 (port 1).
  unsigned char* data = nullptr;
  ASSERT_TRUE(host.GetDMXBuffer(17, &data));
  EXPECT_EQ(data[0], 1);
  EXPECT_EQ(data[1], 1);
  EXPECT_FALSE(host.GetDMXBuffer(40, &data));
}

TEST(ConsoleConnection, ReconnectLaunchesAgainWithTheLastLaunchOption) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetectExt(7);
  ASSERT_TRUE(host.WaitRunning()) << host.Line(kInfoLine);

  // The status window's Reconnect: ShutdownOB(false), then a new start.
  PostMessageA(host.window, WM_COMMAND, MAKEWPARAM(kReconnectButton, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(host.window, kReconnectButton)));
  ASSERT_TRUE(host.WaitRunning(2)) << host.Line(kInfoLine) << "\n" << console.Log();
  EXPECT_EQ(console.Count("image request"), 2);
  int32_t port = 0;
  int32_t option = 0;
  EXPECT_EQ(ModuleLaunchCount(&port, &option), 1);  // a fresh module instance
  EXPECT_EQ(port, host.Port());
  EXPECT_EQ(option, 7);
}

}  // namespace
}  // namespace network_test
