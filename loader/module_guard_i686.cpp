#include "loader/module_guard.h"

namespace Ixa {

// RtlUnwind(frame, nullptr, exception, nullptr), keeping EBX, ESI, EDI and
// EBP: Windows' RtlUnwind returns with them changed, and the compiler may
// keep values in them across the call.
extern "C" void __stdcall IxaUnwindKeepingRegisters(void* frame, EXCEPTION_RECORD* exception);
asm(R"(
  .text
  .globl _IxaUnwindKeepingRegisters@8
_IxaUnwindKeepingRegisters@8:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  pushl $0
  pushl 12(%ebp)
  pushl $0
  pushl 8(%ebp)
  call *__imp__RtlUnwind@16
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret $8
)");

EXCEPTION_DISPOSITION NTAPI ModuleFaultHandler(EXCEPTION_RECORD* exception, void* establisher, CONTEXT*, void*) {
  if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  IxaUnwindKeepingRegisters(establisher, exception);
  __builtin_longjmp(static_cast<FaultFrame*>(establisher)->resume, 1);
}

}  // namespace Ixa
