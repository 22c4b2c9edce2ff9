#include "os/ostime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <windows.h>

namespace {

TEST(Clock, FormatsPartsAtTheExtremes) {
  EXPECT_EQ("0:00:00.000", Os::FormatClock(Os::Split(Os::TimeMs(0))));
  EXPECT_EQ("1193:02:47.295", Os::FormatClock(Os::Split(Os::TimeMs(4294967295u))));
  uint32_t value = 3600000u + 2 * 60000u + 3 * 1000u + 4;
  Os::ClockParts parts = Os::Split(Os::TimeMs(value));
  EXPECT_EQ(1u, parts.hours);
  EXPECT_EQ(2u, parts.minutes);
  EXPECT_EQ(3u, parts.seconds);
  EXPECT_EQ(4u, parts.milliseconds);
  EXPECT_EQ("1:02:03.004", Os::FormatClock(parts));

  kel::text line = kel::text::Make("[");
  Os::AppendClock(line, parts);
  line.Append("]");
  EXPECT_EQ("[1:02:03.004]", line.String());
}

TEST(Clock, WrapDetectionAndDurations) {
  Os::TimeMs time;
  EXPECT_EQ(0u, time.Value());
  EXPECT_TRUE(time.StraddlesWrap(0xFFFFFFF0u, 0x10u));
  EXPECT_TRUE(time.StraddlesWrap(0x10u, 0xFFFFFFF0u));
  EXPECT_TRUE(time.StraddlesWrap(0xFFFFu, 0xFFFF0000u));
  EXPECT_FALSE(time.StraddlesWrap(0x10000u, 0xFFFF0000u));
  EXPECT_FALSE(time.StraddlesWrap(5u, 6u));
  EXPECT_EQ(512u, Os::TimeMs(0x100u).Value() - Os::TimeMs(0xFFFFFF00u).Value());
}

TEST(Clock, NowAdvancesAndAgreesAcrossThreads) {
  // Every thread's first call may be the one that sets the scale; all must
  // see the same clock, never going back.
  std::atomic<uint32_t> latest{Os::TimeMs::Now().Value()};
  std::atomic<bool> wentBack{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        uint32_t seen = latest.load();
        uint32_t now = Os::TimeMs::Now().Value();
        if (now - seen > 0x80000000u) wentBack = true;
        uint32_t expected = seen;
        while (now - expected < 0x80000000u && !latest.compare_exchange_weak(expected, now)) {
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(wentBack.load());
  uint32_t before = Os::TimeMs::Now().Value();
  Sleep(50);
  uint32_t elapsed = Os::TimeMs::Now().Value() - before;
  // Only a wrong scale misses these; a busy machine may stall a while.
  EXPECT_GE(elapsed, 40u);
  EXPECT_LT(elapsed, 60000u);
}

}  // namespace
