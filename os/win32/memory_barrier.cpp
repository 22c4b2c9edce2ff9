#include "os/win32/memory_barrier.h"

#include <windows.h>

#include "os/oslock.h"

namespace Os {

namespace {

// A written page whose access is taken away and given back: the system then
// flushes the address translations of every processor running a thread of
// ours, an interrupt on each that drains its write buffer. Some Windows
// emulation layers leave FlushProcessWriteBuffers empty; this is how they
// get the barrier anyway.
class ProtectionToggle {
 public:
  ProtectionToggle()
      : page_(static_cast<volatile LONG*>(VirtualAlloc(nullptr, 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}

  ~ProtectionToggle() {
    if (page_ != nullptr) VirtualFree(const_cast<LONG*>(page_), 0, MEM_RELEASE);
  }
  ProtectionToggle(const ProtectionToggle&) = delete;
  ProtectionToggle& operator=(const ProtectionToggle&) = delete;

  void Run() {
    if (page_ == nullptr) return;
    ShortLock lock(lock_);
    InterlockedIncrement(page_);  // present and written, so there is a translation to flush
    DWORD previous;
    void* page = const_cast<LONG*>(page_);
    VirtualProtect(page, 1, PAGE_NOACCESS, &previous);
    VirtualProtect(page, 1, PAGE_READWRITE, &previous);
  }

 private:
  volatile LONG* const page_;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace

void ProcessWideMemoryBarrier() {
  FlushProcessWriteBuffers();
  static ProtectionToggle toggle;
  toggle.Run();
}

}  // namespace Os
