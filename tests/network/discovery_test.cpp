// Discovery: a console that never answers, answers that do not count, and
// the error box when no discovery socket can be had.
#include <gtest/gtest.h>

#include <winsock2.h>

#include "tests/network/network_support.h"
#include "tests/support/test_support.h"

namespace network_test {
namespace {

constexpr int kMessageBoxText = 0xFFFF;

std::string ScanningText(const Host& host) { return "Scanning port " + std::to_string(host.Port()) + "..."; }

// The most broadcasts a worker started at start can have sent by now when
// each waits out a five-second receive (less a second for timer slack).
// Read it after the count it bounds: a late reading only raises it.
int AtMostOneEachFourSeconds(double start) { return 1 + static_cast<int>((NowMs() - start) / 4000); }

TEST(Discovery, SilentNetworkIsScannedEveryFiveSecondsUntilShutdown) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--fault", "silent"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  double start = NowMs();
  host.StartDetect();
  ASSERT_TRUE(console.WaitFor("discovery request", 10000)) << console.Log();
  EXPECT_TRUE(host.WaitForLine(kStatusLine, "Locating Corvane Network..."));
  EXPECT_TRUE(host.WaitForLine(kInfoLine, ScanningText(host))) << host.Line(kInfoLine);
  // The next broadcast follows when the five-second receive has run out.
  ASSERT_TRUE(console.WaitFor("discovery request", 20000, 2)) << console.Log();
  int sent = console.Count("discovery request");
  EXPECT_LE(sent, AtMostOneEachFourSeconds(start)) << console.Log();

  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_TRUE(host.WaitForLine(kInfoLine, "Shutting down connection..."));
  EXPECT_EQ(host.Line(kStatusLine), "Locating Corvane Network...");
  EXPECT_EQ(console.Count("connection from"), 0);
  sent = console.Count("discovery request");
  EXPECT_LE(sent, AtMostOneEachFourSeconds(start)) << console.Log();
}

class WrongReply : public testing::TestWithParam<const char*> {};

// Whatever a device sends, the attempt listens out its five seconds: no
// answer brings the next request burst forward, and none is taken.
TEST_P(WrongReply, IsIgnoredAndBringsNoRequestForward) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--fault", GetParam()});
  ASSERT_TRUE(console.Ready()) << console.Log();
  double start = NowMs();
  host.StartDetect();
  ASSERT_TRUE(console.WaitFor("replied", 20000, 2)) << console.Log();
  int sent = console.Count("discovery request");
  EXPECT_LE(sent, AtMostOneEachFourSeconds(start)) << console.Log();
  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_EQ(console.Count("connection from"), 0);
  EXPECT_EQ(host.Line(kStatusLine), "Locating Corvane Network...");
  EXPECT_EQ(LoadedModule(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Replies, WrongReply, testing::Values("echo", "short-reply", "long-reply"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* c = info.param; *c; ++c)
                             if (*c != '-') name += *c;
                           return name;
                         });

// The reply is taken though junk arrived before it in the same burst.
TEST(Discovery, AReplyQueuedBehindJunkIsTaken) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  Simulator console(host.Port(), {"--fault", "junk-first"});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  EXPECT_TRUE(host.WaitRunning()) << host.Line(kInfoLine) << "\n" << console.Log();
  EXPECT_EQ(console.Count("discovery request"), 1) << console.Log();
}

// Only the consoles an administrator listed are heard.
TEST(Discovery, WithAllowedConsolesSetAReplyFromElsewhereIsIgnored) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  StoredValue allowed("AllowedConsoles", {"10.99.0.0/16"});
  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  host.StartDetect();
  ASSERT_TRUE(console.WaitFor("replied", 20000, 2)) << console.Log();
  EXPECT_EQ(console.Count("connection from"), 0);
  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_EQ(LoadedModule(), nullptr);
}

TEST(Discovery, SocketFailureShowsTheErrorBoxAndDiscoveryGoesOnAfterIt) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  std::unique_ptr<SocketsWithdrawn> withdrawn;
  HWND box = StartIntoTheErrorBox(host, &withdrawn);
  ASSERT_NE(box, nullptr);
  ASSERT_GT(withdrawn->Count(), 0);
  EXPECT_EQ(testing_support::ControlText(box, kMessageBoxText).rfind("Failed with error 10093: ", 0), 0u)
      << testing_support::ControlText(box, kMessageBoxText);

  Simulator console(host.Port(), {});
  ASSERT_TRUE(console.Ready()) << console.Log();
  withdrawn->Restore();
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(host.WaitRunning()) << host.Line(kInfoLine) << "\n" << console.Log();
}

TEST(Discovery, ShutdownDismissesTheErrorBox) {
  Host host;
  ASSERT_NE(host.window, nullptr);
  std::unique_ptr<SocketsWithdrawn> withdrawn;
  HWND box = StartIntoTheErrorBox(host, &withdrawn);
  ASSERT_NE(box, nullptr);
  EXPECT_LT(host.TimedShutdown(), kPromptShutdownMs);
  EXPECT_FALSE(IsWindow(box));
  EXPECT_NE(host.Line(kStatusLine), "Unable to connect to Corvane");
}

}  // namespace
}  // namespace network_test
