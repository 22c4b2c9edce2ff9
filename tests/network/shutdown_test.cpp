// ShutdownOB while the worker is stuck on a console: it comes back at once
// and leaves nothing behind.
#include <gtest/gtest.h>

#include "tests/network/network_support.h"
#include "tests/support/test_support.h"

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

}  // namespace
}  // namespace network_test
