#include "loader/module_guard.h"

namespace Ixa {

extern "C" {

extern const char IxaCallGuardedResume[];

// Called while the system looks for a handler. RtlUnwindEx runs the
// termination handlers of the module's frames above ours and resumes at
// IxaCallGuardedResume with the stack pointer of our frame, so a
// non-continuable exception ends there too.
EXCEPTION_DISPOSITION IxaModuleFaultHandler(EXCEPTION_RECORD* exception, void* establisher, CONTEXT* context,
                                            DISPATCHER_CONTEXT* dispatcher) {
  if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  RtlUnwindEx(establisher, const_cast<char*>(IxaCallGuardedResume), exception, nullptr, context,
              dispatcher->HistoryTable);
  return ExceptionContinueSearch;
}

}  // extern "C"

// GuardedCall IxaCallGuarded(entry, a, b, c): calls entry(a, b, c) and
// returns its 32-bit result with faulted 0, or faulted 1 after a fault; the
// pair travels in rax. The callee-saved registers are pushed here and
// popped on both ways out, so a module that faults with them clobbered (and
// without unwind data that restores them) hands the caller its own values
// back.
asm(R"(
  .text
  .globl IxaCallGuarded
  .def IxaCallGuarded; .scl 2; .type 32; .endef
  .seh_proc IxaCallGuarded
IxaCallGuarded:
  pushq %rbp
  .seh_pushreg %rbp
  pushq %rbx
  .seh_pushreg %rbx
  pushq %rsi
  .seh_pushreg %rsi
  pushq %rdi
  .seh_pushreg %rdi
  pushq %r12
  .seh_pushreg %r12
  pushq %r13
  .seh_pushreg %r13
  pushq %r14
  .seh_pushreg %r14
  pushq %r15
  .seh_pushreg %r15
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  .seh_handler IxaModuleFaultHandler, @except
  movq %rcx, %rax
  movq %rdx, %rcx
  movq %r8, %rdx
  movq %r9, %r8
  callq *%rax
  movl %eax, %eax  # faulted 0
1:
  addq $40, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rdi
  popq %rsi
  popq %rbx
  popq %rbp
  ret
  .globl IxaCallGuardedResume
IxaCallGuardedResume:
  movabsq $0x100000000, %rax  # faulted 1
  jmp 1b
  .seh_endproc
)");

}  // namespace Ixa
