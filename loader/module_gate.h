#pragma once

// Host threads and the status window call into the processor module without
// a lock. Before the module is freed its slots are emptied and the calls
// already inside it are waited for: each call is counted while it runs, on
// the count of the binding it reads its entry point from.
//
// A host reads DMX a few thousand times a second, so one shared count per
// binding costs it nothing it can measure. Each unbind retires its count and
// puts a fresh one in place, so a count left behind by a thread that ended
// inside the module (TerminateThread) holds back that module alone.

#include <atomic>
#include <cstdint>

#include <windows.h>

#include "loader/module_guard.h"
#include "loader/processor_table.h"

namespace Ixa {

// Counts the enclosing call into the module on the table's current count.
// The count is taken with a full barrier before the caller reads the module
// handle or an entry-point slot; the unbinding side empties the slots before
// it reads the retired count, so one of the two always sees the other.
class ModuleCallScope {
 public:
  explicit ModuleCallScope(const ProcessorTable& table) : count_(table.calls.load()) { count_->inside.fetch_add(1); }
  ~ModuleCallScope() { count_->inside.fetch_sub(1); }
  ModuleCallScope(const ModuleCallScope&) = delete;
  ModuleCallScope& operator=(const ModuleCallScope&) = delete;

 private:
  ModuleCallCount* count_;
};

// Calls the entry point bound in slot, counted and under the fault guard:
// call(entry) runs only when the slot is filled. False when it was empty or
// the module faulted.
template <typename Entry, typename Call>
bool CallModuleEntry(const ProcessorTable& table, const std::atomic<Entry>& slot, Call&& call) {
  ModuleCallScope scope(table);
  Entry entry = slot.load();
  if (entry == nullptr) return false;
  return CallModuleGuarded([&] { call(entry); });
}

// With the slots emptied: waits until no call counted on retired (what
// UnbindProcessorTable returned) is inside the module. False when one is
// still inside after timeoutMs (a module that hangs); the module must then
// stay loaded.
bool WaitForModuleCalls(const ModuleCallCount& retired, DWORD timeoutMs);

}  // namespace Ixa
