#include "loader/guarded_port_buffer.h"

#include <windows.h>

// Frame layout while the module runs, relative to %ebp:
//   -12..-4  saved %edi, %esi, %ebx
//   -16      registration record: handler
//   -20      registration record: previous record (%fs:0 before us)
// The handler is given the record's address and so finds our frame again.

namespace {

// cdecl (exception record, registration record, context, dispatcher context).
// While unwinding it passes. Otherwise it lets RtlUnwind run the termination
// handlers of every frame above ours (the module's own), then rebuilds our
// stack and frame pointers from the record's address and jumps to the exit
// with a 0 result. It never returns to the dispatcher, so a non-continuable
// exception ends here too.
extern "C" __attribute__((naked, used)) void IxaPortBufferFaultHandler() {
  asm(R"(
    movl 4(%esp), %eax
    testl $6, 4(%eax)
    jnz 1f
    movl 8(%esp), %ecx
    pushl $0
    pushl %eax
    pushl $0
    pushl %ecx
    call _RtlUnwind@16
    movl 8(%esp), %ecx
    movl %ecx, %esp
    leal 20(%ecx), %ebp
    cld
    xorl %eax, %eax
    jmp IxaGuardedExit
1:
    movl $1, %eax
    ret
  )");
}

}  // namespace

extern "C" __attribute__((naked)) int32_t __cdecl IxaGuardedGetPortBuffer(GetPortBufferFn, uint32_t, int32_t,
                                                                           uint8_t**) {
  asm(R"(
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $_IxaPortBufferFaultHandler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 20(%ebp)
    pushl 16(%ebp)
    pushl 12(%ebp)
    call *8(%ebp)
IxaGuardedExit:
    leal -20(%ebp), %esp
    popl %fs:0
    addl $4, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
  )");
}

static_assert(EXCEPTION_UNWINDING == 2 && EXCEPTION_EXIT_UNWIND == 4, "flags tested by the handler");
static_assert(ExceptionContinueSearch == 1, "result of the handler while unwinding");
