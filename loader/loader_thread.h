#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <windows.h>

#include "loader/lingering_code.h"
#include "os/win32/handle.h"
#include "os/win32/osthread.h"

// Calls fn(args...) (any calling convention, up to five integer or pointer
// arguments) for a call that may wait for the loader lock or for another
// process. On a loader thread an unload then goes on without waiting for
// it: fn returns into code that outlives the library, which ends the thread
// when the unload has happened meanwhile. So whatever the system may call
// back meanwhile must be a gated callback (below); a system message loop
// (a dialog, a message box) ends on the WM_QUIT the unload posts.
uintptr_t CallOutsideWords(const void* fn, const uintptr_t (&words)[5]);
template <typename Fn, typename... Args>
uintptr_t CallOutsideLibrary(Fn fn, Args... args) {
  static_assert(sizeof...(Args) <= 5, "up to five arguments");
  const uintptr_t words[] = {(uintptr_t)(args)..., 0, 0, 0, 0, 0};
  return CallOutsideWords(reinterpret_cast<const void*>(fn), {words[0], words[1], words[2], words[3], words[4]});
}

// A window, dialog or timer procedure (four arguments) for the system to
// call, through a gate in code that outlives the library: on a loader
// thread inside a call outside, the thread counts as inside the library for
// the procedure's run, so no unload abandons it there; once the unload has
// abandoned the thread, the system's calls go to fallback instead (null:
// one that returns 0). Gates are few; take one per procedure, once.
void* GatedCallbackCode(void* procedure, void* fallback);
template <typename Procedure>
Procedure GatedCallback(Procedure procedure, Procedure fallback = nullptr) {
  return reinterpret_cast<Procedure>(
      GatedCallbackCode(reinterpret_cast<void*>(procedure), reinterpret_cast<void*>(fallback)));
}

// Should an unload abandon the calling loader thread, or run on it (inside
// its hold's release): fn(a, b), a stdcall, is called as the thread ends,
// once the loader lock is free again, from code that outlives the library.
// What it reads must outlive the library too (Lingering()->lastCallData).
// A null fn takes it back.
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
  // True once its procedure has returned.
  bool Done() const;

  // From here on, threads are ended as for an unload when let go.
  static void BeginUnload();

  // Unload path: has the thread end where it cannot run our code again,
  // waiting up to timeoutMs for it to get there: parked, not yet started,
  // or inside a call outside the library (a socket wait, a dialog's loop
  // stuck in the system), from which it then never returns. False when it
  // got to none in time; it then runs on, and nothing of it must be torn
  // down. On the thread itself (the unload runs inside its hold's release)
  // the thread ends as that release returns. A thread that is running is
  // first given orderlyMs to finish and park by itself.
  bool EndForUnload(DWORD timeoutMs, DWORD orderlyMs = 0);

 private:
  explicit LoaderThread(Os::Thread::Procedure procedure);
  static unsigned __stdcall Run(void* self);
  void Park();
  // Unload path: waits up to orderlyMs for the thread to park by itself,
  // while it can.
  void AwaitOrderlyEnd(DWORD orderlyMs);
  // Marks the thread abandoned where it cannot run our code again; false
  // when it reached no such place within timeoutMs.
  bool AbandonForUnload(DWORD timeoutMs);

  Os::Thread::Procedure procedure_;
  ThreadStart* start_ = nullptr;
  Os::UniqueHandle parked_;
  Os::UniqueHandle release_;
  std::unique_ptr<Os::Thread> thread_;
  // Set while it takes a library reference (LibraryHold).
  std::atomic<bool> takingReference_{false};
  friend class LibraryHold;
};
