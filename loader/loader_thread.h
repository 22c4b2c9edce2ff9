#pragma once

#include <memory>

#include <windows.h>

#include "os/win32/handle.h"
#include "os/win32/osthread.h"

// A thread of the loader (status window or connection worker) whose
// procedure ends by calling Park().
//
// Why parking: when the host unloads the library, the system holds its
// loader lock while our unload code runs, and a thread cannot exit without
// that lock, so the unload cannot wait for a thread to end. Yet once the
// library is unmapped no thread may still run its code. A parked thread has
// finished all its work and waits inside the system; a normal Join releases
// it to return, while an unload has it call ExitThread from that wait, so it
// never comes back into this library.
class LoaderThread {
 public:
  LoaderThread();
  ~LoaderThread();
  LoaderThread(const LoaderThread&) = delete;
  LoaderThread& operator=(const LoaderThread&) = delete;

  // Joins any thread still held, then starts procedure (null argument, no
  // name, default priority and stack).
  void Start(Os::Thread::Procedure procedure);
  // Lets a parked thread return and waits until it has ended.
  void Join();
  bool Held() const { return thread_ != nullptr; }

  // The procedure's last step, on the thread itself.
  void Park();

  // Unload path: waits up to timeoutMs for the thread to park, then has it
  // exit from there. False when it did not park in time; the caller must
  // then keep the library mapped.
  bool EndForUnload(DWORD timeoutMs);

 private:
  Os::UniqueHandle parked_;
  Os::UniqueHandle release_;
  std::unique_ptr<Os::Thread> thread_;
};
