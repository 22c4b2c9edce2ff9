// The host's interface. Nothing may throw into the host.
#include "IxaLoader.h"

#include "loader/detection.h"
#include "loader/dmx_buffer.h"
#include "loader/fixture_commands.h"
#include "loader/loader_state.h"
#include "ui/ui_module.h"

extern "C" {

int32_t IXA_CALL StartDetectExt(int32_t launchOption) {
  try {
    StartDetection(launchOption);
  } catch (const Ui::invalid_argument_error&) {
    // The status window is closed: nothing can be started until reload.
  } catch (...) {
    // The worker thread could not be created; detection stays off.
    Loader().detecting.store(false);
  }
  return 1;
}

int32_t IXA_CALL StartDetect(void) { return StartDetectExt(0); }

void IXA_CALL ShutdownOB(IxaBool closeWindow) {
  try {
    ShutdownLoader(closeWindow != 0);
  } catch (...) {
  }
}

void IXA_CALL SetRunningCallback(IxaRunningCallback callback) {
  Loader().runningCallback.store(callback);
}

IxaBool IXA_CALL GetDMXBuffer(uint16_t row, unsigned char** buffer) {
  return GetRowBuffer(row, buffer) ? 1 : 0;
}

IxaBool IXA_CALL ClearProgrammer(void) {
  SendClearProgrammer();
  return 1;
}

IxaBool IXA_CALL SelectNone(void) {
  SendSelectNone();
  return 1;
}

IxaBool IXA_CALL SelectFixture(uint32_t fixture) {
  SendFixtureCommand(kSelectFixture, fixture);
  return 1;
}

IxaBool IXA_CALL DeselectFixture(uint32_t fixture) {
  SendFixtureCommand(kDeselectFixture, fixture);
  return 1;
}

IxaBool IXA_CALL KnockoutFixture(uint32_t fixture) {
  SendFixtureCommand(kKnockoutFixture, fixture);
  return 1;
}

IxaBool IXA_CALL SetFixturePanTilt(uint32_t fixture, uint32_t pan, uint32_t tilt) {
  SendPanTilt(fixture, pan, tilt);
  return 1;
}

IxaBool IXA_CALL SetFixtureIntensity(uint32_t fixture, uint8_t intensity) {
  SendIntensity(fixture, intensity);
  return 1;
}

}  // extern "C"
