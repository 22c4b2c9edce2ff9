#pragma once

// A structured exception frame of our own around calls into the processor
// module, which is foreign code: GCC on i686 has no __try/__except and
// catch (...) does not see Win32 exceptions, so the registration record is
// linked into the thread's chain (%fs:0) by hand, with a __builtin_setjmp
// buffer as the way back:
//
//   FaultFrame frame;
//   if (__builtin_setjmp(frame.resume) != 0) { frame.Unlink(); ...failed... }
//   frame.Link();
//   ...call the module...
//   frame.Unlink();
//
// The setjmp must sit in the function that makes the call (a function
// calling it cannot be inlined). It costs a few stores to this thread's
// stack and TEB: no lock, nothing shared.

#include <windows.h>

// An exception the module left unhandled: RtlUnwind runs the termination
// handlers of the module's frames above ours, then control jumps back to the
// setjmp and never returns to the dispatcher, so a non-continuable
// exception ends there too.
EXCEPTION_DISPOSITION NTAPI ModuleFaultHandler(EXCEPTION_RECORD* exception, void* establisher, CONTEXT* context,
                                               void* dispatcher);

struct FaultFrame {
  EXCEPTION_REGISTRATION_RECORD record;  // first: the handler is given its address
  void* resume[5];

  void Link() {
    asm volatile("movl %%fs:0, %0" : "=r"(record.Next) : : "memory");
    record.Handler = &ModuleFaultHandler;
    asm volatile("movl %0, %%fs:0" : : "r"(&record) : "memory");
  }
  void Unlink() { asm volatile("movl %0, %%fs:0" : : "r"(record.Next) : "memory"); }
};
