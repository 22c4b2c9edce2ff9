#pragma once

// Calls into the processor module, which is foreign code, run under a
// structured exception guard of our own: a Win32 exception the module leaves
// unhandled ends that call, not the host. GCC has no __try/__except, and
// catch (...) does not see Win32 exceptions.
//
//   bool returned = CallEntryGuarded(getPortBuffer, served, port, universe, out);
//   bool returned = CallModuleGuarded([&] { ...several calls... });
//
// The guard costs no lock and touches nothing shared. The body must not
// throw: a C++ exception would leave the guard without unlinking it.

#include <windows.h>

#include <cstdint>
#include <type_traits>

#if !defined(__i386__) && !defined(__x86_64__)
#error "the module guard supports i686 and x86_64"
#endif

namespace Ixa {

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

#else

// x86_64: exception handling is table-based, so the guard is a small
// assembly frame whose unwind data names our handler. It keeps the
// caller's callee-saved registers itself, whatever the module left in them.
// It calls entry(a, b, c) directly: no closure on the read path.
struct GuardedCall {
  int32_t result;   // what the entry returned
  int32_t faulted;  // 1 after a fault
};
static_assert(sizeof(GuardedCall) == 8, "returned in a register");
extern "C" GuardedCall IxaCallGuarded(const void* entry, uintptr_t a, uintptr_t b, uintptr_t c);

template <typename Fn>
bool CallModuleGuarded(Fn&& call) {
  using Body = std::remove_reference_t<Fn>;
  void (*run)(void*) = [](void* context) { (*static_cast<Body*>(context))(); };
  return IxaCallGuarded(reinterpret_cast<const void*>(run), reinterpret_cast<uintptr_t>(&call), 0, 0).faulted == 0;
}

// An argument as the register it travels in.
template <typename T>
uintptr_t AsArgumentWord(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uintptr_t>(value);
  } else {
    return static_cast<uintptr_t>(value);
  }
}

#endif

// Calls entry(args...) under the guard; result gets what it returned. False
// after a fault, with result 0. Up to three integer or pointer arguments.
template <typename... Params, typename... Args>
bool CallEntryGuarded(int32_t(__cdecl* entry)(Params...), int32_t& result, Args... args) {
  static_assert(sizeof...(Params) == sizeof...(Args) && sizeof...(Params) <= 3, "up to three arguments");
#if defined(__x86_64__)
  const uintptr_t words[] = {AsArgumentWord(static_cast<Params>(args))..., 0, 0, 0};
  const GuardedCall call = IxaCallGuarded(reinterpret_cast<const void*>(entry), words[0], words[1], words[2]);
  result = call.result;  // 0 after a fault
  return call.faulted == 0;
#else
  if (CallModuleGuarded([&] { result = entry(static_cast<Params>(args)...); })) return true;
  result = 0;
  return false;
#endif
}

}  // namespace Ixa
