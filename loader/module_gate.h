#pragma once

// Host threads and the status window call into the processor module without
// a lock. Before the module is freed its slots are emptied and the calls
// already inside it are waited for: each call is counted while it runs.
//
// Counting is per thread, so host threads reading DMX together never share
// a cache line: a thread owns the line its id hashes to and counts there
// with plain stores. Whoever waits pays for the ordering instead, with one
// process-wide barrier. A thread whose line is taken counts in one shared
// counter with a locked instruction.

#include <atomic>
#include <cstdint>

#include <windows.h>

#include "loader/module_guard.h"
#include "os/win32/osthread.h"

struct alignas(64) ModuleCallSlot {
  std::atomic<DWORD> owner{0};  // a thread id; 0 while free
  std::atomic<uint32_t> depth{0};  // the owner's calls inside the module, nested ones too
};

constexpr uint32_t kModuleCallSlotCount = 64;
inline ModuleCallSlot gModuleCallSlots[kModuleCallSlotCount];
inline std::atomic<int32_t> gSharedModuleCalls{0};

inline ModuleCallSlot& HomeModuleCallSlot(DWORD threadId) {
  return gModuleCallSlots[(threadId >> 2) % kModuleCallSlotCount];  // ids are multiples of 4
}

// Takes slot for self when it is free.
bool ClaimModuleCallSlot(ModuleCallSlot& slot, DWORD self);

// Counts the enclosing call into the module. The count is stored before the
// caller reads an entry-point slot; the compiler keeps that order and the
// waiter's barrier makes the store visible to it.
class ModuleCallScope {
 public:
  ModuleCallScope() {
    const DWORD self = Os::Thread::CurrentThreadId();
    ModuleCallSlot& home = HomeModuleCallSlot(self);
    if (home.owner.load(std::memory_order_relaxed) == self || ClaimModuleCallSlot(home, self)) {
      slot_ = &home;
      slot_->depth.store(slot_->depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      std::atomic_signal_fence(std::memory_order_seq_cst);
    } else {
      gSharedModuleCalls.fetch_add(1);
    }
  }
  ~ModuleCallScope() {
    if (slot_ != nullptr) {
      slot_->depth.store(slot_->depth.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    } else {
      gSharedModuleCalls.fetch_sub(1);
    }
  }
  ModuleCallScope(const ModuleCallScope&) = delete;
  ModuleCallScope& operator=(const ModuleCallScope&) = delete;

 private:
  ModuleCallSlot* slot_ = nullptr;  // null: counted in gSharedModuleCalls
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

// The ending thread gives its slot back (a thread that ends inside the
// module is no longer in it).
void ReleaseModuleCallSlot();
