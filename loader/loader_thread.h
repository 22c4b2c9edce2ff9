#pragma once

#include <cstdint>
#include <memory>

#include <windows.h>

#include "loader/lingering_code.h"
#include "os/win32/handle.h"
#include "os/win32/osthread.h"

// Calls fn(args...) (any calling convention, up to three integer or pointer
// arguments) for a call that may wait for the loader lock or for another
// process. On a loader thread an unload then goes on without waiting for
// it: fn returns into code that outlives the library, which ends the thread
// when the unload has happened meanwhile. So the caller must leave nothing
// behind that the system could still call into (a window, a hook).
uintptr_t CallOutsideWords(const void* fn, uintptr_t a, uintptr_t b, uintptr_t c);
template <typename Fn, typename... Args>
uintptr_t CallOutsideLibrary(Fn fn, Args... args) {
  static_assert(sizeof...(Args) <= 3, "up to three arguments");
  const uintptr_t words[] = {(uintptr_t)(args)..., 0, 0, 0};
  return CallOutsideWords(reinterpret_cast<const void*>(fn), words[0], words[1], words[2]);
}

// For an unload running on the calling loader thread (inside its hold's
// release): fn(a, b), a stdcall, is called as the thread ends, once the
// loader lock is free again, from code that outlives the library. What it
// reads must outlive the library too (Lingering()->lastCallData).
void CallAsThreadEnds(const void* fn, uintptr_t a, uintptr_t b);

// Keeps this load of the library mapped while a loader thread makes calls
// that may wait for the loader lock or for another process with our code
// still in use: making a window, the tray icon, binding and calling the
// module, running host code, a control path. An unload could not wait for
// such a thread; instead a host's FreeLibrary meanwhile only drops the
// host's own reference, and the unload runs on this thread when the hold
// ends, which then ends the thread. Holds nest; off loader threads (the
// host's calls, which the host's own reference covers) this does nothing.
// Taking the reference is itself an outside call: an unload already under
// way abandons the thread there, and the reference it may have got is
// given back as the thread ends.
class LibraryHold {
 public:
  LibraryHold();
  ~LibraryHold() { Release(); }
  LibraryHold(const LibraryHold&) = delete;
  LibraryHold& operator=(const LibraryHold&) = delete;
  // Ends the hold early; later calls do nothing.
  void Release();

 private:
  bool held_ = false;
};

// A thread of the loader (status window or connection worker). Its
// procedure runs inside a trampoline that parks the thread afterwards.
//
// Why parking: when the host unloads the library, the system holds its
// loader lock while our unload code runs, and a thread cannot exit without
// that lock, so the unload cannot wait for a thread to end. Yet once the
// library is unmapped no thread may still run its code. A parked thread has
// finished all its work and waits inside the system, in a call outside the
// library; a normal join releases it to return, while an unload abandons it
// there, so it ends in code that outlives the library and never comes back. A thread that has not yet entered
// its procedure at unload time is still waiting for that same loader lock
// in the system's thread start-up; it starts through code that outlives the
// library (lingering_code.h), which the unload tells to end it there.
//
// Several control paths may wait for the same thread (a host thread in
// ShutdownOB and the status window's Reconnect), so it is held by shared
// pointer; whoever lets go of it last joins it. That is never the thread
// itself: a thread that stops itself is kept aside for a later join.
class LoaderThread {
 public:
  // Starts a thread that runs procedure(nullptr) (no name, default
  // priority and stack). Throws Os::os_exception when it cannot be made.
  static std::shared_ptr<LoaderThread> Start(Os::Thread::Procedure procedure);
  // Lets a parked thread return and waits until it has ended; once the
  // library is being unloaded, ends it as EndForUnload does instead.
  ~LoaderThread();
  LoaderThread(const LoaderThread&) = delete;
  LoaderThread& operator=(const LoaderThread&) = delete;

  bool IsCallingThread() const;
  // True on a thread of the loader's own (either kind).
  static bool OnLoaderThread();
  // Waits until the procedure has returned; at once on the thread itself.
  void WaitUntilDone() const;

  // From here on, threads are ended as for an unload when let go.
  static void BeginUnload();

  // Unload path: waits up to timeoutMs for the thread to park, then has it
  // exit from there. False when it did not park in time: it is then let go
  // to return by itself later, and the caller must keep the library mapped.
  // On the thread itself (the unload runs inside its hold's release) the
  // thread ends as that release returns.
  bool EndForUnload(DWORD timeoutMs);

 private:
  explicit LoaderThread(Os::Thread::Procedure procedure);
  static unsigned __stdcall Run(void* self);
  void Park();
  // Marks the thread abandoned where it cannot run our code again; false
  // when it reached no such place within timeoutMs.
  bool AbandonForUnload(DWORD timeoutMs);

  Os::Thread::Procedure procedure_;
  ThreadStart* start_ = nullptr;
  Os::UniqueHandle parked_;
  Os::UniqueHandle release_;
  std::unique_ptr<Os::Thread> thread_;
};
