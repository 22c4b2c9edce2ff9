#include "loader/fixture_commands.h"

void SendClearProgrammer() {}
void SendSelectNone() {}
void SendFixtureCommand(FixtureCommand, uint32_t) {}
void SendPanTilt(uint32_t, uint32_t, uint32_t) {}
void SendIntensity(uint32_t, uint8_t) {}
