#pragma once

#include <array>
#include <cstdint>

namespace Ixa {

// Command bytes of the fixture messages.
enum FixtureCommand : uint8_t {
  kClearProgrammer = 0x20,
  kKnockoutFixture = 0x21,
  kSelectNone = 0x21,
  kDeselectFixture = 0x23,
  kSelectFixture = 0x24,
  kSetParameter = 0x30,
};

enum FixtureParameter : uint8_t { kPan = 0x00, kTilt = 0x01, kIntensity = 0x02 };

// Every message is built in one zeroed buffer of this size, and the module
// is handed that buffer.
constexpr size_t kCommandBufferSize = 255;
using CommandBuffer = std::array<uint8_t, kCommandBufferSize>;

// Message builders; each writes into a zeroed buffer and returns the length
// to hand to the module.
int32_t BuildBareCommand(CommandBuffer& buffer, FixtureCommand command);
int32_t BuildSelectNone(CommandBuffer& buffer);
int32_t BuildFixtureCommand(CommandBuffer& buffer, FixtureCommand command, uint32_t fixture);
// Pan or tilt, 14-bit value.
int32_t BuildPositionCommand(CommandBuffer& buffer, uint32_t fixture, FixtureParameter axis, uint32_t value);
int32_t BuildIntensityCommand(CommandBuffer& buffer, uint32_t fixture, uint8_t intensity);

// Each builds its message and hands it to the module, when one is bound.
void SendClearProgrammer();
void SendSelectNone();
void SendFixtureCommand(FixtureCommand command, uint32_t fixture);
void SendPanTilt(uint32_t fixture, uint32_t pan, uint32_t tilt);
void SendIntensity(uint32_t fixture, uint8_t intensity);

}  // namespace Ixa
