// The host's interface. Nothing may throw into the host: each export runs
// its body through Os::Contain and answers its documented result.
#include "IxaLoader.h"

#include "loader/detection.h"
#include "loader/dmx_buffer.h"
#include "loader/fixture_commands.h"
#include "loader/loader_state.h"
#include "os/osboundary.h"
#include "ui/ui_module.h"

using namespace Ixa;

namespace {

// The command exports answer true even when nothing was sent.
template <typename Send>
IxaBool SendCommand(const char* name, Send&& send) {
  Os::Contain(name, send);
  return 1;
}

}  // namespace

extern "C" {

int32_t IXA_CALL StartDetectExt(int32_t launchOption) {
  // A closed status window (the invalid-argument error) or a worker that
  // could not be made leaves detection off; either way the answer is 1.
  return Os::Contain("StartDetectExt", 1, [&] {
    StartDetection(launchOption);
    return 1;
  });
}

int32_t IXA_CALL StartDetect(void) { return StartDetectExt(0); }

void IXA_CALL ShutdownOB(IxaBool closeWindow) {
  Os::Contain("ShutdownOB", [&] { ShutdownLoader(closeWindow != 0); });
}

void IXA_CALL SetRunningCallback(IxaRunningCallback callback) {
  Os::Contain("SetRunningCallback", [&] { Loader().runningCallback.store(callback); });
}

IxaBool IXA_CALL GetDMXBuffer(uint16_t row, unsigned char** buffer) {
  return Os::Contain("GetDMXBuffer", static_cast<IxaBool>(0),
                     [&] { return static_cast<IxaBool>(GetRowBuffer(row, buffer) ? 1 : 0); });
}

IxaBool IXA_CALL ClearProgrammer(void) {
  return SendCommand("ClearProgrammer", [] { SendClearProgrammer(); });
}

IxaBool IXA_CALL SelectNone(void) {
  return SendCommand("SelectNone", [] { SendSelectNone(); });
}

IxaBool IXA_CALL SelectFixture(uint32_t fixture) {
  return SendCommand("SelectFixture", [&] { SendFixtureCommand(kSelectFixture, fixture); });
}

IxaBool IXA_CALL DeselectFixture(uint32_t fixture) {
  return SendCommand("DeselectFixture", [&] { SendFixtureCommand(kDeselectFixture, fixture); });
}

IxaBool IXA_CALL KnockoutFixture(uint32_t fixture) {
  return SendCommand("KnockoutFixture", [&] { SendFixtureCommand(kKnockoutFixture, fixture); });
}

IxaBool IXA_CALL SetFixturePanTilt(uint32_t fixture, uint32_t pan, uint32_t tilt) {
  return SendCommand("SetFixturePanTilt", [&] { SendPanTilt(fixture, pan, tilt); });
}

IxaBool IXA_CALL SetFixtureIntensity(uint32_t fixture, uint8_t intensity) {
  return SendCommand("SetFixtureIntensity", [&] { SendIntensity(fixture, intensity); });
}

}  // extern "C"
