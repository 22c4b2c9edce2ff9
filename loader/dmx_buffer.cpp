#include "loader/dmx_buffer.h"

#include <windows.h>

#include <atomic>

#include "loader/loader_state.h"
#include "ui/patch_table.h"

namespace {

// A structured exception frame of our own around the module's GetPortBuffer:
// GCC on i686 has no __try/__except and catch (...) does not see Win32
// exceptions, so the registration record is linked into the thread's chain
// (%fs:0) by hand, with a __builtin_setjmp buffer as the way back. It costs a
// few stores to this thread's stack and TEB: no lock, nothing shared.
struct FaultFrame {
  EXCEPTION_REGISTRATION_RECORD record;  // first: the handler is given its address
  void* resume[5];
};

EXCEPTION_REGISTRATION_RECORD* ExceptionChain() {
  EXCEPTION_REGISTRATION_RECORD* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head) : : "memory");
  return head;
}

void SetExceptionChain(EXCEPTION_REGISTRATION_RECORD* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// An exception the module left unhandled: RtlUnwind runs the termination
// handlers of the module's frames above ours, then we jump back into
// GetRowBuffer and never return to the dispatcher, so a non-continuable
// exception ends here too.
EXCEPTION_DISPOSITION NTAPI PortBufferFaultHandler(EXCEPTION_RECORD* exception, void* establisher, CONTEXT*,
                                                   void*) {
  if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  RtlUnwind(establisher, nullptr, exception, nullptr);
  __builtin_longjmp(static_cast<FaultFrame*>(establisher)->resume, 1);
}

// The host calls GetRowBuffer per universe and frame, and a call for each
// lookup costs about as much as the module's own call, so both are kept.
// The loader state is looked up on first use, not at load: it must not be
// built during static initialisation.
PatchRow* const gPatchRows = PatchTable();
std::atomic<LoaderState*> gLoader{nullptr};

LoaderState& State() {
  LoaderState* state = gLoader.load(std::memory_order_acquire);
  if (state == nullptr) {
    state = &Loader();
    gLoader.store(state, std::memory_order_release);
  }
  return *state;
}

bool Blank(uint8_t** out) {
  if (out != nullptr) *out = State().blankUniverse;
  return false;
}

}  // namespace

bool GetRowBuffer(uint16_t row, uint8_t** out) {
  LoaderState& state = State();
  if (state.module.load() == nullptr || out == nullptr || row >= kPatchRowCount) return Blank(out);
  GetPortBufferFn getPortBuffer = state.table.GetPortBuffer.load();
  if (getPortBuffer == nullptr) return Blank(out);
  const PatchRow& patch = gPatchRows[row];
  if (patch.enabled.load() == 0) return Blank(out);
  // One read serves the test and the call: the window may re-resolve the
  // row meanwhile.
  int32_t portIndex = patch.portIndex.load();
  if (portIndex == -1) return Blank(out);
  uint32_t port = static_cast<uint16_t>(portIndex);
  int32_t universe = patch.universe.load();

  FaultFrame frame;
  if (__builtin_setjmp(frame.resume) != 0) {
    SetExceptionChain(frame.record.Next);
    return Blank(out);
  }
  frame.record.Next = ExceptionChain();
  frame.record.Handler = &PortBufferFaultHandler;
  SetExceptionChain(&frame.record);
  int32_t served = getPortBuffer(port, universe, out);
  SetExceptionChain(frame.record.Next);
  return served != 0 || Blank(out);
}
