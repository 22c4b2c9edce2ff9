#pragma once

#include <cstdint>

// Command bytes of the fixture messages.
enum FixtureCommand : uint8_t {
  kClearProgrammer = 0x20,
  kKnockoutFixture = 0x21,
  kDeselectFixture = 0x23,
  kSelectFixture = 0x24,
};

// Each builds its message and hands it to the module, when one is bound.
void SendClearProgrammer();
void SendSelectNone();
void SendFixtureCommand(FixtureCommand command, uint32_t fixture);
void SendPanTilt(uint32_t fixture, uint32_t pan, uint32_t tilt);
void SendIntensity(uint32_t fixture, uint8_t intensity);
