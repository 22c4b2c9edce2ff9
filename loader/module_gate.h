#pragma once

// Host threads and the status window call into the processor module without
// a lock. Before the module is freed its slots are emptied and the calls
// already inside it are waited for: each call is counted while it runs.

#include <atomic>
#include <cstdint>

#include <windows.h>

#include "loader/module_guard.h"

inline std::atomic<int32_t> gModuleCallsInFlight{0};

// Counts the enclosing call into the module. Sequentially consistent: the
// count is visible before the caller reads a slot, so whoever empties the
// slots and then finds the count at 0 knows no call can still begin.
class ModuleCallScope {
 public:
  ModuleCallScope() { gModuleCallsInFlight.fetch_add(1); }
  ~ModuleCallScope() { gModuleCallsInFlight.fetch_sub(1); }
  ModuleCallScope(const ModuleCallScope&) = delete;
  ModuleCallScope& operator=(const ModuleCallScope&) = delete;
};

// Calls the entry point bound in slot, counted and under the fault guard:
// call(entry) runs only when the slot is filled. False when it was empty or
// the module faulted.
template <typename Entry, typename Call>
bool CallModuleEntry(const std::atomic<Entry>& slot, Call&& call) {
  ModuleCallScope scope;
  Entry entry = slot.load();
  if (entry == nullptr) return false;
  return CallModuleGuarded([&] { call(entry); });
}

// With the slots emptied: waits until no call is inside the module. False
// when one is still inside after timeoutMs (a module that hangs); the
// module must then stay loaded.
bool WaitForModuleCalls(DWORD timeoutMs);
