#pragma once

#include <cstdint>
#include <memory>

#include "os/ospriority.h"

namespace Os {

// Owns one operating-system thread: started (suspended, prioritised, named,
// resumed) by the constructor and joined by the destructor, so destroying a
// Thread waits until its procedure has returned. Never destroy a Thread from
// its own thread.
class Thread {
 public:
  using Procedure = unsigned(__stdcall*)(void* argument);

  // Throws os_exception when the thread cannot be created, prioritised or
  // resumed.
  Thread(Procedure procedure, void* argument, const char* name, int priority, uint32_t stackSize);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Waits without time limit; true when there is nothing left to wait for.
  bool Join();
  uint32_t GetId() const;
  // GetCurrentThreadId without the call: the id as the thread's
  // environment block holds it. Cheap enough for every GetDMXBuffer.
  static uint32_t CurrentThreadId() {
    uint32_t id;
#if defined(__x86_64__)
    asm("movl %%gs:0x48, %0" : "=r"(id));
#else
    asm("movl %%fs:0x24, %0" : "=r"(id));
#endif
    return id;
  }

  // Closes the handle without waiting, for an owner that must not wait (the
  // library's unload, where its threads have ended or are the caller).
  void Abandon();

 private:
  struct HandleRecord;
  std::unique_ptr<HandleRecord> record_;
};

}  // namespace Os
