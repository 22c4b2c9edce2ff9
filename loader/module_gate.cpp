#include "loader/module_gate.h"

#include "os/ospoll.h"
#include "os/win32/memory_barrier.h"

namespace {

bool CallsInside() {
  if (gSharedModuleCalls.load() != 0) return true;
  for (const ModuleCallSlot& slot : gModuleCallSlots) {
    if (slot.depth.load(std::memory_order_acquire) != 0) return true;
  }
  return false;
}

}  // namespace

bool ClaimModuleCallSlot(ModuleCallSlot& slot, DWORD self) {
  DWORD free = 0;
  return slot.owner.compare_exchange_strong(free, self);
}

bool WaitForModuleCalls(DWORD timeoutMs) {
  // Every count stored before the emptied slots could be read is visible
  // from here on.
  Os::ProcessWideMemoryBarrier();
  // Calls into the module are short (a buffer pointer, a message copy).
  return Os::PollUntil([] { return !CallsInside(); }, timeoutMs);
}

void ReleaseModuleCallSlot() {
  const DWORD self = Os::Thread::CurrentThreadId();
  ModuleCallSlot& home = HomeModuleCallSlot(self);
  if (home.owner.load() != self) return;
  home.depth.store(0);
  home.owner.store(0);
}
