#pragma once

#include <windows.h>

#include <cstdint>

#include "loader/processor_api.h"
#include "os/win32/osthread.h"

// Code and data of this load of the library that outlive it, left behind on
// purpose: a thread that may run after the unload goes through them and
// never into the library's unmapped code. Three pages per load.
//  - The status forwarder: a module left running without ShutdownOB keeps
//    reporting; while the library is loaded its reports go on to
//    ReportStatus, afterwards they return at once.
//  - The thread start: a loader thread that had not run yet when the
//    unload began (it waits in the system's start-up for the loader lock
//    the unload holds) ends there instead of entering the library.
//  - The outside call (see CallOutsideLibrary) and the callback gates: the
//    system's calls into our window, dialog and timer procedures on a
//    loader thread go through a gate that marks the thread as inside the
//    library for the call; on a thread the unload has abandoned they go to
//    a fallback that outlives the library instead.
//  - The host call's return: a control export gives back its reference to
//    the library from here, returning straight to the host (host_calls.cpp).

struct ForwarderData {
  volatile LONG inside;  // reports between entry and return
  volatile LONG open;    // 1 while the library is loaded
  void* target;          // ReportStatus
};

// One loader thread's start, decided once by a compare-exchange: the thread
// enters the library, or the unload abandons it first and it ends in the
// start code. Later, while the thread is inside a call that may wait for the
// loader lock or for another process (CallOutside), the unload may abandon
// it there too: the call then returns into the lingering code, which ends
// the thread.
enum ThreadStartState : LONG {
  kThreadWaiting = 0,
  kThreadEntered = 1,
  kThreadAbandoned = 2,
  kThreadStartFree = 3,
  kThreadOutside = 4,
};
// An abandoned outside call ends the thread: first it makes the last call
// (stdcall lastCall(lastArgs[0], lastArgs[1]), when set: an unload that ran
// on this thread leaves there what must wait until the loader lock is
// free); then, when it had just taken a reference to a library
// (heldModule, see LibraryHold), it gives that back as it ends.
struct ThreadStart {
  volatile LONG state;
  Os::Thread::Procedure procedure;
  void* argument;
  void* exitThread;   // ExitThread, for the abandoned start
  HMODULE heldModule;
  void* freeAndExit;  // FreeLibraryAndExitThread
  void* lastCall;
  uintptr_t lastArgs[2];
  DWORD threadId;  // set once the thread has entered; what the gates look for
};

// One gate: the procedure it calls, and what it calls on an abandoned
// thread (same signature; four arguments).
struct CallbackGateData {
  void* target;
  void* fallback;
};

// fn(a, b, c, d, e) for any calling convention, made from the lingering code.
using OutsideCallFn = uintptr_t(__cdecl*)(ThreadStart* self, const void* fn, uintptr_t a, uintptr_t b, uintptr_t c,
                                          uintptr_t d, uintptr_t e);

constexpr size_t kCallbackGates = 4;

struct LingeringCode {
  StatusCallbackFn forwarder;
  ForwarderData* forwarderData;
  // Start routine taking a ThreadStart* as its argument.
  Os::Thread::Procedure threadStart;
  OutsideCallFn callOutside;
  // Jumped to as a host's call into the library ends holding a reference
  // (module in the first integer register, result in the return
  // register): frees the module and returns the result to the host.
  void* hostCallReturn;
  ThreadStart* starts;
  size_t startCount;
  // Room for what a last call reads.
  uint8_t* lastCallData;
  size_t lastCallDataSize;
  // Four-argument stdcall procedures, each calling its gates[i].target.
  void* gateCode[kCallbackGates];
  CallbackGateData* gates;
  // A four-argument stdcall procedure that returns 0: a fallback.
  void* returnZero;
};

// This load's pages, made on first use; null when no memory could be had.
const LingeringCode* Lingering();

// A free start record for procedure(argument), or null when all are taken.
ThreadStart* ClaimThreadStart(Os::Thread::Procedure procedure, void* argument);
// Gives back the record of a thread that entered and has ended, or that
// was never created.
void ReleaseThreadStart(ThreadStart* start);
