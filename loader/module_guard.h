#pragma once

// Calls into the processor module, which is foreign code, run under a
// structured exception guard of our own: a Win32 exception the module leaves
// unhandled ends that call, not the host. GCC has no __try/__except, and
// catch (...) does not see Win32 exceptions.
//
//   bool returned = CallModuleGuarded([&] { served = getPortBuffer(...); });
//
// The guard costs no lock and touches nothing shared. The body must not
// throw: a C++ exception would leave the guard without unlinking it.

#include <windows.h>

#include <type_traits>

#if defined(__i386__)

// i686: a registration record of our own linked into the thread's chain
// (%fs:0), with a __builtin_setjmp buffer as the way back.

// RtlUnwind runs the termination handlers of the module's frames above
// ours, then control jumps back to the setjmp and never returns to the
// dispatcher, so a non-continuable exception ends there too.
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

// The setjmp must sit in the function that makes the call, and a function
// calling it cannot be inlined: the body is inlined here instead.
template <typename Fn>
__attribute__((noinline)) bool CallModuleGuarded(Fn&& call) {
  FaultFrame frame;
  if (__builtin_setjmp(frame.resume) != 0) {
    frame.Unlink();
    return false;
  }
  frame.Link();
  call();
  frame.Unlink();
  return true;
}

#elif defined(__x86_64__)

// x86_64: exception handling is table-based, so the guard is a small
// assembly frame whose unwind data names our handler. It keeps the
// caller's callee-saved registers itself, whatever the module left in them.
extern "C" bool IxaRunGuarded(void (*body)(void*), void* context);

template <typename Fn>
bool CallModuleGuarded(Fn&& call) {
  using Body = std::remove_reference_t<Fn>;
  return IxaRunGuarded([](void* context) { (*static_cast<Body*>(context))(); },
                       const_cast<void*>(static_cast<const void*>(&call)));
}

#else
#error "the module guard supports i686 and x86_64"
#endif
