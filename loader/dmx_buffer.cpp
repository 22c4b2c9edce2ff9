#include "loader/dmx_buffer.h"

#include <atomic>

#include "loader/loader_state.h"
#include "loader/module_gate.h"
#include "ui/patch_table.h"

namespace Ixa {

alignas(16) const uint8_t kBlankUniverse[kUniverseSize] = {};

namespace {

// The host calls GetRowBuffer per universe and frame, and a call for the
// lookup costs about as much as the module's own call, so it is kept. The
// loader state is looked up on first use, not at load: it must not be built
// during static initialisation.
std::atomic<LoaderState*> gLoader{nullptr};

LoaderState& State() {
  LoaderState* state = gLoader.load(std::memory_order_acquire);
  if (state == nullptr) {
    state = &Loader();
    gLoader.store(state, std::memory_order_release);
  }
  return *state;
}

// Off the hot path: the blank answer. The host's interface hands out a
// pointer to writable bytes; these are not.
__attribute__((cold, noinline)) bool Blank(uint8_t** out) noexcept {
  if (out != nullptr) *out = const_cast<uint8_t*>(kBlankUniverse);
  return false;
}

}  // namespace

bool GetRowBuffer(uint16_t row, uint8_t** out) noexcept {
  LoaderState& state = State();
  ModuleCallScope scope(state.table);
  if (state.module.load() == nullptr || out == nullptr || row >= kPatchRowCount) return Blank(out);
  GetPortBufferFn getPortBuffer = state.table.GetPortBuffer.load();
  const PatchRow& patch = PatchTable()[row];
  if (getPortBuffer == nullptr || patch.enabled.load() == 0) return Blank(out);
  // One read serves the test and the call: the window may re-resolve the
  // row meanwhile.
  const int32_t portIndex = patch.portIndex.load();
  if (portIndex == -1) return Blank(out);
  const uint32_t port = static_cast<uint16_t>(portIndex);

  int32_t served;  // 0 after a fault
  CallEntryGuarded(getPortBuffer, served, port, patch.universe.load(), out);
  return (served != 0 && *out != nullptr) || Blank(out);
}

}  // namespace Ixa
