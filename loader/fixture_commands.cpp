#include "loader/fixture_commands.h"

#include "loader/loader_state.h"
#include "loader/module_gate.h"

namespace Ixa {

namespace {

// The module expects ten zero bytes after the nine of SelectNone.
constexpr int32_t kSelectNoneLength = 19;

uint8_t Low7(uint32_t value) { return static_cast<uint8_t>(value & 0x7F); }
uint8_t High7(uint32_t value) { return static_cast<uint8_t>((value >> 7) & 0x7F); }

// Universal real-time system exclusive, device 0, sub-identifier 2.
void WriteHeader(CommandBuffer& buffer, uint8_t command) {
  buffer[0] = 0xF0;
  buffer[1] = 0x7F;
  buffer[2] = 0x00;
  buffer[3] = 0x02;
  buffer[4] = 0x00;
  buffer[5] = 0x00;
  buffer[6] = command;
}

// Makes bytes 4 up to the checksum sum to 127 mod 128, then ends the
// message; returns its length.
int32_t Finish(CommandBuffer& buffer, int32_t checksumAt) {
  uint8_t sum = 0;
  for (int32_t i = 4; i < checksumAt; ++i) sum = static_cast<uint8_t>(sum + buffer[i]);
  buffer[checksumAt] = static_cast<uint8_t>(~sum & 0x7F);
  buffer[checksumAt + 1] = 0xF7;
  return checksumAt + 2;
}

void WriteFixture(CommandBuffer& buffer, uint32_t fixture) {
  buffer[7] = 0x00;
  buffer[8] = 0x00;
  buffer[9] = Low7(fixture);
  buffer[10] = High7(fixture);
}

// Parameter value bytes 14 and 15 are the caller's.
int32_t BuildParameterCommand(CommandBuffer& buffer, uint32_t fixture, FixtureParameter parameter, uint8_t first,
                              uint8_t second) {
  WriteHeader(buffer, kSetParameter);
  WriteFixture(buffer, fixture);
  buffer[11] = parameter;
  buffer[12] = 0x00;
  buffer[13] = 0x00;
  buffer[14] = first;
  buffer[15] = second;
  return Finish(buffer, 16);
}

// The module copies what it needs during the call; its result means
// nothing here, and neither does an exception it raises, which must not
// reach the host. The slot is read for each message: ShutdownOB may empty
// it between two.
void Send(const CommandBuffer& buffer, int32_t length) {
  const ProcessorTable& table = Loader().table;
  CallModuleEntry(table, table.SendMIDICommands, [&](SendMIDICommandsFn send) { send(0, length, buffer.data()); });
}

}  // namespace

int32_t BuildBareCommand(CommandBuffer& buffer, FixtureCommand command) {
  WriteHeader(buffer, command);
  return Finish(buffer, 7);
}

int32_t BuildSelectNone(CommandBuffer& buffer) {
  BuildBareCommand(buffer, kSelectNone);
  return kSelectNoneLength;
}

int32_t BuildFixtureCommand(CommandBuffer& buffer, FixtureCommand command, uint32_t fixture) {
  WriteHeader(buffer, command);
  WriteFixture(buffer, fixture);
  return Finish(buffer, 11);
}

int32_t BuildPositionCommand(CommandBuffer& buffer, uint32_t fixture, FixtureParameter axis, uint32_t value) {
  return BuildParameterCommand(buffer, fixture, axis, Low7(value), High7(value));
}

int32_t BuildIntensityCommand(CommandBuffer& buffer, uint32_t fixture, uint8_t intensity) {
  // Unlike pan and tilt, intensity puts its high bit first.
  return BuildParameterCommand(buffer, fixture, kIntensity, static_cast<uint8_t>(intensity >> 7), Low7(intensity));
}

void SendClearProgrammer() {
  CommandBuffer buffer{};
  Send(buffer, BuildBareCommand(buffer, kClearProgrammer));
}

void SendSelectNone() {
  CommandBuffer buffer{};
  Send(buffer, BuildSelectNone(buffer));
}

void SendFixtureCommand(FixtureCommand command, uint32_t fixture) {
  CommandBuffer buffer{};
  Send(buffer, BuildFixtureCommand(buffer, command, fixture));
}

void SendPanTilt(uint32_t fixture, uint32_t pan, uint32_t tilt) {
  CommandBuffer buffer{};
  Send(buffer, BuildPositionCommand(buffer, fixture, kPan, pan));
  Send(buffer, BuildPositionCommand(buffer, fixture, kTilt, tilt));
}

void SendIntensity(uint32_t fixture, uint8_t intensity) {
  CommandBuffer buffer{};
  Send(buffer, BuildIntensityCommand(buffer, fixture, intensity));
}

}  // namespace Ixa
