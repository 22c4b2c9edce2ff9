#pragma once

#include <cstdint>

#include <windows.h>

namespace Os {

// The memory reader of one stack walk of this process. A system call per
// read makes a walk cost many milliseconds under Wine, so memory that cannot
// go away during the walk is copied directly: the walked thread's own stack
// (that thread is suspended, or is the caller) and module images while the
// loader lock is held (nothing is unmapped then). The lock is only tried,
// never waited for: the walked thread may be suspended inside the loader.
// Anything else, where the frame chain may lead into memory that another
// thread frees meanwhile, goes through ReadProcessMemory, which then fails
// instead of faulting.
//
// Lives for one walk; walks are serialised by DebugHelpLock.
class WalkMemory {
 public:
  // stackPointer: the walked thread's, at the start of the walk.
  explicit WalkMemory(uintptr_t stackPointer);
  ~WalkMemory();
  WalkMemory(const WalkMemory&) = delete;
  WalkMemory& operator=(const WalkMemory&) = delete;

  // The reader handed to StackWalk64; reads for the walk under way.
  static BOOL CALLBACK Read(HANDLE process, DWORD64 base, PVOID buffer, DWORD size, LPDWORD read);

 private:
  bool CopiesDirectly(uintptr_t address, DWORD size) const;

  MEMORY_BASIC_INFORMATION stack_{};  // empty when the stack pointer led nowhere
  bool holdsLoaderLock_ = false;
  ULONG_PTR loaderLockCookie_ = 0;
};

}  // namespace Os
