#pragma once

#include <memory>

#include "os/win32/osthread.h"
#include "os/win32/unique_library.h"

namespace Ixa {

// A reference to this library (the program, when linked into a test).
// Throws Os::os_exception when it cannot be had.
Os::UniqueLibrary HoldThisLibrary();

// A thread of the library: the status window's, or a connection worker. It
// holds one reference to the library from before it runs until its very
// last act, FreeLibraryAndExitThread, so a host's FreeLibrary meanwhile only
// drops the host's own reference and the library's code never runs
// unmapped. Only ShutdownOB(1) ends these threads, outside the loader lock;
// an unload that follows finds none of them left.
class LibraryThread {
 public:
  // Starts procedure(nullptr) holding the library. Throws Os::os_exception
  // when the thread or the reference cannot be had.
  explicit LibraryThread(Os::Thread::Procedure procedure);
  // Closes the handle without waiting: by the time an unload destroys a
  // holder, its thread has ended, or it is the calling thread in its last act.
  ~LibraryThread();
  LibraryThread(const LibraryThread&) = delete;
  LibraryThread& operator=(const LibraryThread&) = delete;

  bool IsCallingThread() const;
  // True on any thread of the library's own.
  static bool OnLibraryThread();
  // Waits until the thread has ended; never on the thread itself.
  void Join();

 private:
  std::unique_ptr<Os::Thread> thread_;
};

}  // namespace Ixa
