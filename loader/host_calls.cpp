// The control exports (StartDetect, StartDetectExt, ShutdownOB) hold a
// reference to the library for their whole run, so a host that frees the
// library while one of its threads is still inside only drops its own
// reference. The call then ends by jumping to code that outlives the
// library, which gives the reference back and returns straight to the host:
// should that be the last one, the unload runs there, and nothing returns
// into the library afterwards. Written in assembly for that last jump; each
// runs its body (exports.cpp) in between.
#include <windows.h>

#include "loader/lingering_code.h"

extern "C" {

// Read by the exports just before their last jump.
void* gHostCallReturn = nullptr;

// The library's module with a reference taken for the calling export, or
// null (no lingering code: the export then simply returns).
HMODULE TakeHostCallReference() {
  const LingeringCode* code = Lingering();
  if (code == nullptr) return nullptr;
  gHostCallReturn = code->hostCallReturn;
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&TakeHostCallReference)), &self)) {
    return nullptr;
  }
  return self;
}

}  // extern "C"

// export(argument): module = TakeHostCallReference(); result = body(argument);
// then, with a module, jump to the lingering return (module and result in
// the registers it expects), else return.
#if defined(__i386__)
#define IXA_HOST_CALL(name)                 \
  asm(".text\n"                             \
      ".globl _" #name "\n"                 \
      "_" #name ":\n"                       \
      "  call _TakeHostCallReference\n"     \
      "  pushl %eax\n"                      \
      "  pushl 8(%esp)\n"                   \
      "  call _" #name "Body\n"             \
      "  addl $4, %esp\n"                   \
      "  popl %ecx\n"                       \
      "  testl %ecx, %ecx\n"                \
      "  jz 1f\n"                           \
      "  jmp *_gHostCallReturn\n"           \
      "1:\n"                                \
      "  ret\n");
#elif defined(__x86_64__)
#define IXA_HOST_CALL(name)                 \
  asm(".text\n"                             \
      ".globl " #name "\n"                  \
      ".def " #name "; .scl 2; .type 32; .endef\n" \
      ".seh_proc " #name "\n"               \
      #name ":\n"                           \
      "  pushq %rbx\n"                      \
      "  .seh_pushreg %rbx\n"               \
      "  subq $32, %rsp\n"                  \
      "  .seh_stackalloc 32\n"              \
      "  .seh_endprologue\n"                \
      "  movq %rcx, 48(%rsp)\n"             \
      "  call TakeHostCallReference\n"      \
      "  movq %rax, %rbx\n"                 \
      "  movq 48(%rsp), %rcx\n"             \
      "  call " #name "Body\n"              \
      "  testq %rbx, %rbx\n"                \
      "  jz 1f\n"                           \
      "  movq %rbx, %rcx\n"                 \
      "  addq $32, %rsp\n"                  \
      "  popq %rbx\n"                       \
      "  jmp *gHostCallReturn(%rip)\n"      \
      "1:\n"                                \
      "  addq $32, %rsp\n"                  \
      "  popq %rbx\n"                       \
      "  ret\n"                             \
      ".seh_endproc\n");
#endif

IXA_HOST_CALL(StartDetect)
IXA_HOST_CALL(StartDetectExt)
IXA_HOST_CALL(ShutdownOB)
