// The fixture command messages, byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "loader/fixture_commands.h"

using namespace Ixa;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Message(const CommandBuffer& buffer, int32_t length) { return Bytes(buffer.begin(), buffer.begin() + length); }

TEST(FixtureMessages, CommandTableExamples) {
  CommandBuffer b{};
  EXPECT_EQ(Message(b, BuildBareCommand(b, kClearProgrammer)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x20, 0x5F, 0xF7}));
  b = {};
  EXPECT_EQ(Message(b, BuildSelectNone(b)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x21, 0x5E, 0xF7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  b = {};
  EXPECT_EQ(Message(b, BuildFixtureCommand(b, kKnockoutFixture, 300)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x21, 0x00, 0x00, 0x2C, 0x02, 0x30, 0xF7}));
  b = {};
  EXPECT_EQ(Message(b, BuildFixtureCommand(b, kDeselectFixture, 129)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x23, 0x00, 0x00, 0x01, 0x01, 0x5A, 0xF7}));
  b = {};
  EXPECT_EQ(Message(b, BuildFixtureCommand(b, kSelectFixture, 1)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x24, 0x00, 0x00, 0x01, 0x00, 0x5A, 0xF7}));
  b = {};
  EXPECT_EQ(Message(b, BuildPositionCommand(b, 5, kPan, 1000)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x30, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x68, 0x07, 0x5B,
                   0xF7}));
  // Tilt is built over the pan message in the same buffer.
  EXPECT_EQ(Message(b, BuildPositionCommand(b, 5, kTilt, 8191)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x30, 0x00, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x7F, 0x3F, 0x0B,
                   0xF7}));
  b = {};
  EXPECT_EQ(Message(b, BuildIntensityCommand(b, 5, 255)),
            (Bytes{0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x30, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x01, 0x7F, 0x48,
                   0xF7}));
}

TEST(FixtureMessages, OnlyFourteenBitsOfFixtureAndPositionAreSent) {
  CommandBuffer b{};
  BuildFixtureCommand(b, kSelectFixture, 16384);
  EXPECT_EQ(b[9], 0x00);
  EXPECT_EQ(b[10], 0x00);
  BuildPositionCommand(b, 0xFFFFFFFFu, kPan, 16384 + 3);
  EXPECT_EQ(b[9], 0x7F);
  EXPECT_EQ(b[10], 0x7F);
  EXPECT_EQ(b[14], 0x03);
  EXPECT_EQ(b[15], 0x00);
}

TEST(FixtureMessages, IntensitySendsItsHighBitFirst) {
  CommandBuffer b{};
  BuildIntensityCommand(b, 1, 128);
  EXPECT_EQ(b[14], 0x01);
  EXPECT_EQ(b[15], 0x00);
  BuildIntensityCommand(b, 1, 100);
  EXPECT_EQ(b[14], 0x00);
  EXPECT_EQ(b[15], 0x64);
}

// Bytes 4 up to the checksum sum to 127 mod 128, data bytes stay below 0x80,
// the message ends with 0xF7 and nothing is written past it.
void ExpectWellFormed(const CommandBuffer& b, int32_t length, uint32_t fixture, int32_t zeroTail = 0) {
  int32_t end = length - 1 - zeroTail;
  unsigned sum = 0;
  for (int32_t i = 4; i < end; ++i) sum += b[i];
  ASSERT_EQ(sum % 128, 127u) << "fixture " << fixture;
  for (int32_t i = 1; i < end; ++i) ASSERT_LT(b[i], 0x80) << "byte " << i << " fixture " << fixture;
  ASSERT_EQ(b[0], 0xF0);
  ASSERT_EQ(b[end], 0xF7);
  for (size_t i = static_cast<size_t>(end) + 1; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << "byte " << i;
}

TEST(FixtureMessages, EveryFixtureNumberGivesAWellFormedMessage) {
  const FixtureCommand commands[] = {kKnockoutFixture, kDeselectFixture, kSelectFixture};
  for (uint32_t fixture = 0; fixture < 16384 * 3; ++fixture) {
    for (FixtureCommand command : commands) {
      CommandBuffer b{};
      int32_t length = BuildFixtureCommand(b, command, fixture);
      ASSERT_EQ(length, 13);
      ExpectWellFormed(b, length, fixture);
      ASSERT_EQ(b[9] | (b[10] << 7), static_cast<int>(fixture & 0x3FFF));
    }
    CommandBuffer pan{};
    ExpectWellFormed(pan, BuildPositionCommand(pan, fixture, kPan, fixture * 7), fixture);
    ASSERT_EQ(pan[14] | (pan[15] << 7), static_cast<int>((fixture * 7) & 0x3FFF));
  }
  for (uint32_t fixture : {0xFFFFFFFFu, 0x80000000u, 0x12345678u}) {
    CommandBuffer b{};
    ExpectWellFormed(b, BuildFixtureCommand(b, kSelectFixture, fixture), fixture);
  }
}

TEST(FixtureMessages, EveryIntensityGivesAWellFormedMessage) {
  for (int intensity = 0; intensity < 256; ++intensity) {
    for (uint32_t fixture : {0u, 1u, 300u, 16383u}) {
      CommandBuffer b{};
      int32_t length = BuildIntensityCommand(b, fixture, static_cast<uint8_t>(intensity));
      ASSERT_EQ(length, 18);
      ExpectWellFormed(b, length, fixture);
      ASSERT_EQ((b[14] << 7) | b[15], intensity);
    }
  }
}

TEST(FixtureMessages, BareCommandsAreWellFormed) {
  CommandBuffer b{};
  ExpectWellFormed(b, BuildBareCommand(b, kClearProgrammer), 0);
  b = {};
  ExpectWellFormed(b, BuildSelectNone(b), 0, 10);
}

}  // namespace
