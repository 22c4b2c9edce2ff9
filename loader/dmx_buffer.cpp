#include "loader/dmx_buffer.h"

#include "loader/guarded_port_buffer.h"
#include "loader/loader_state.h"
#include "ui/patch_table.h"

namespace {

bool Blank(uint8_t** out) {
  if (out != nullptr) *out = Loader().blankUniverse;
  return false;
}

}  // namespace

bool GetRowBuffer(uint16_t row, uint8_t** out) {
  LoaderState& state = Loader();
  if (state.module.load() == nullptr || out == nullptr || row >= kPatchRowCount) return Blank(out);
  GetPortBufferFn getPortBuffer = state.table.GetPortBuffer.load();
  if (getPortBuffer == nullptr) return Blank(out);
  const PatchRow& patch = PatchTable()[row];
  if (patch.enabled.load() == 0) return Blank(out);
  // One read serves the test and the call: the window may re-resolve the
  // row meanwhile.
  int32_t portIndex = patch.portIndex.load();
  if (portIndex == -1) return Blank(out);
  uint32_t port = static_cast<uint16_t>(portIndex);
  if (IxaGuardedGetPortBuffer(getPortBuffer, port, patch.universe.load(), out) != 0) return true;
  return Blank(out);
}
