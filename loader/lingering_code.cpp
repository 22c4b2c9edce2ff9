#include "loader/lingering_code.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "loader/status_report.h"

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kThreadStartOffset = 64;  // in the code page, after the forwarder
constexpr size_t kCallOutsideOffset = 128;
constexpr size_t kThreadStarts = 40;
constexpr size_t kLastCallDataSize = 640;

struct LingeringData {
  ForwarderData forwarder;
  ThreadStart starts[kThreadStarts];
  alignas(8) uint8_t lastCallData[kLastCallDataSize];
#if defined(__x86_64__)
  // Unwind data of the forwarder and the outside call, so that an exception
  // raised below them is dispatched through their frames (registered for
  // good).
  RUNTIME_FUNCTION functions[2];
  alignas(4) uint8_t unwind[2][8];
#endif
};
static_assert(sizeof(LingeringData) <= kPage, "one data page");

// The start code addresses the record in machine words.
constexpr size_t kWord = sizeof(void*);
static_assert(offsetof(ThreadStart, procedure) == kWord && offsetof(ThreadStart, argument) == 2 * kWord &&
                  offsetof(ThreadStart, exitThread) == 3 * kWord && offsetof(ThreadStart, heldModule) == 4 * kWord &&
                  offsetof(ThreadStart, freeAndExit) == 5 * kWord && offsetof(ThreadStart, lastCall) == 6 * kWord &&
                  offsetof(ThreadStart, lastArgs) == 7 * kWord,
              "the start code's offsets");

// Appends machine code.
class CodeWriter {
 public:
  explicit CodeWriter(uint8_t* at) : start_(at), at_(at) {}
  void Bytes(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) *at_++ = b;
  }
  void Word(uint32_t value) {
    std::memcpy(at_, &value, sizeof(value));
    at_ += sizeof(value);
  }
  // A rip-relative operand: counted from the end of the instruction, whose
  // trailing bytes (an immediate) follow the operand.
  void Relative(const volatile void* target, int trailing) {
    Word(static_cast<uint32_t>(reinterpret_cast<intptr_t>(target) - reinterpret_cast<intptr_t>(at_ + 4 + trailing)));
  }
  size_t Size() const { return static_cast<size_t>(at_ - start_); }

 private:
  uint8_t* start_;
  uint8_t* at_;
};

#if defined(__i386__)
uint32_t Absolute(const volatile void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// cdecl (code, text):
//   lock incl inside; cmpl $0, open; je done
//   pushl 8(%esp); pushl 8(%esp); call *target; addl $8, %esp
//   done: lock decl inside; ret
size_t WriteForwarder(uint8_t* code, ForwarderData* data) {
  CodeWriter out(code);
  out.Bytes({0xF0, 0xFF, 0x05});
  out.Word(Absolute(&data->inside));
  out.Bytes({0x83, 0x3D});
  out.Word(Absolute(&data->open));
  out.Bytes({0x00, 0x74, 0x11});
  out.Bytes({0xFF, 0x74, 0x24, 0x08, 0xFF, 0x74, 0x24, 0x08, 0xFF, 0x15});
  out.Word(Absolute(&data->target));
  out.Bytes({0x83, 0xC4, 0x08, 0xF0, 0xFF, 0x0D});
  out.Word(Absolute(&data->inside));
  out.Bytes({0xC3});
  return out.Size();
}

// stdcall (ThreadStart* start):
//   movl 4(%esp), %ecx; movl $1, %edx; xorl %eax, %eax
//   lock cmpxchgl %edx, (%ecx); jne abandoned
//   movl 8(%ecx), %eax; movl %eax, 4(%esp); jmp *4(%ecx)
//   abandoned: pushl $0; call *12(%ecx)
void WriteThreadStart(uint8_t* code) {
  CodeWriter out(code);
  out.Bytes({0x8B, 0x4C, 0x24, 0x04, 0xBA, 0x01, 0x00, 0x00, 0x00, 0x31, 0xC0});
  out.Bytes({0xF0, 0x0F, 0xB1, 0x11, 0x75, 0x0A});
  out.Bytes({0x8B, 0x41, 0x08, 0x89, 0x44, 0x24, 0x04, 0xFF, 0x61, 0x04});
  out.Bytes({0x6A, 0x00, 0xFF, 0x51, 0x0C});
}
// cdecl (ThreadStart* self, fn, a, b, c); fn may be cdecl or stdcall: the
// stack is restored from the frame.
//   pushl %ebp; movl %esp, %ebp; pushl %ebx; movl 8(%ebp), %ebx
//   movl $1, %eax; movl $4, %edx; lock cmpxchgl %edx, (%ebx)
//   pushl 24(%ebp); pushl 20(%ebp); pushl 16(%ebp); call *12(%ebp)
//   leal -4(%ebp), %esp; pushl %eax
//   movl $4, %eax; movl $1, %edx; lock cmpxchgl %edx, (%ebx); jne abandoned
//   popl %eax; popl %ebx; popl %ebp; ret
//   abandoned: movl 24(%ebx), %eax; testl %eax, %eax; jz free
//   pushl 32(%ebx); pushl 28(%ebx); call *%eax
//   free: movl 16(%ebx), %eax; testl %eax, %eax; jz exit
//   pushl $0; pushl %eax; call *20(%ebx)
//   exit: pushl $0; call *12(%ebx)
void WriteCallOutside(uint8_t* code) {
  CodeWriter out(code);
  out.Bytes({0x55, 0x89, 0xE5, 0x53, 0x8B, 0x5D, 0x08});
  out.Bytes({0xB8, 0x01, 0x00, 0x00, 0x00, 0xBA, 0x04, 0x00, 0x00, 0x00, 0xF0, 0x0F, 0xB1, 0x13});
  out.Bytes({0xFF, 0x75, 0x18, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x55, 0x0C});
  out.Bytes({0x8D, 0x65, 0xFC, 0x50});
  out.Bytes({0xB8, 0x04, 0x00, 0x00, 0x00, 0xBA, 0x01, 0x00, 0x00, 0x00, 0xF0, 0x0F, 0xB1, 0x13, 0x75, 0x04});
  out.Bytes({0x58, 0x5B, 0x5D, 0xC3});
  out.Bytes({0x8B, 0x43, 0x18, 0x85, 0xC0, 0x74, 0x08, 0xFF, 0x73, 0x20, 0xFF, 0x73, 0x1C, 0xFF, 0xD0});
  out.Bytes({0x8B, 0x43, 0x10, 0x85, 0xC0, 0x74, 0x06, 0x6A, 0x00, 0x50, 0xFF, 0x53, 0x14});
  out.Bytes({0x6A, 0x00, 0xFF, 0x53, 0x0C});
}
#elif defined(__x86_64__)
// Win64 (code in ecx, text in rdx), data addressed relative to rip; the
// frame is set up first, as its unwind data says:
//   subq $40, %rsp
//   lock incl inside(%rip); cmpl $0, open(%rip); je done
//   call *target(%rip)
//   done: lock decl inside(%rip); addq $40, %rsp; ret
constexpr uint8_t kForwarderPrologSize = 4;

size_t WriteForwarder(uint8_t* code, ForwarderData* data) {
  CodeWriter out(code);
  out.Bytes({0x48, 0x83, 0xEC, 0x28});
  out.Bytes({0xF0, 0xFF, 0x05});
  out.Relative(&data->inside, 0);
  out.Bytes({0x83, 0x3D});
  out.Relative(&data->open, 1);
  out.Bytes({0x00, 0x74, 0x06});
  out.Bytes({0xFF, 0x15});
  out.Relative(&data->target, 0);
  out.Bytes({0xF0, 0xFF, 0x0D});
  out.Relative(&data->inside, 0);
  out.Bytes({0x48, 0x83, 0xC4, 0x28, 0xC3});
  return out.Size();
}

// Win64 (self in rcx, fn in rdx, a in r8, b in r9, c on the stack):
//   pushq %rbx; subq $32, %rsp; movq %rcx, %rbx
//   movl $1, %eax; movl $4, %r10d; lock cmpxchgl %r10d, (%rbx)
//   movq %rdx, %rax; movq %r8, %rcx; movq %r9, %rdx; movq 80(%rsp), %r8; call *%rax
//   movq %rax, %r11; movl $4, %eax; movl $1, %edx; lock cmpxchgl %edx, (%rbx); jne abandoned
//   movq %r11, %rax; addq $32, %rsp; popq %rbx; ret
//   abandoned: movq 48(%rbx), %rax; testq %rax, %rax; jz free
//   movq 56(%rbx), %rcx; movq 64(%rbx), %rdx; call *%rax
//   free: movq 32(%rbx), %rcx; testq %rcx, %rcx; jz exit
//   xorl %edx, %edx; call *40(%rbx)
//   exit: xorl %ecx, %ecx; call *24(%rbx)
constexpr uint8_t kCallOutsidePrologSize = 5;

size_t WriteCallOutside(uint8_t* code) {
  CodeWriter out(code);
  out.Bytes({0x53, 0x48, 0x83, 0xEC, 0x20, 0x48, 0x89, 0xCB});
  out.Bytes({0xB8, 0x01, 0x00, 0x00, 0x00, 0x41, 0xBA, 0x04, 0x00, 0x00, 0x00, 0xF0, 0x44, 0x0F, 0xB1, 0x13});
  out.Bytes({0x48, 0x89, 0xD0, 0x4C, 0x89, 0xC1, 0x4C, 0x89, 0xCA, 0x4C, 0x8B, 0x44, 0x24, 0x50, 0xFF, 0xD0});
  out.Bytes({0x49, 0x89, 0xC3, 0xB8, 0x04, 0x00, 0x00, 0x00, 0xBA, 0x01, 0x00, 0x00, 0x00});
  out.Bytes({0xF0, 0x0F, 0xB1, 0x13, 0x75, 0x09});
  out.Bytes({0x4C, 0x89, 0xD8, 0x48, 0x83, 0xC4, 0x20, 0x5B, 0xC3});
  out.Bytes({0x48, 0x8B, 0x43, 0x30, 0x48, 0x85, 0xC0, 0x74, 0x0A, 0x48, 0x8B, 0x4B, 0x38, 0x48, 0x8B, 0x53, 0x40});
  out.Bytes({0xFF, 0xD0});
  out.Bytes({0x48, 0x8B, 0x4B, 0x20, 0x48, 0x85, 0xC9, 0x74, 0x05, 0x31, 0xD2, 0xFF, 0x53, 0x28});
  out.Bytes({0x31, 0xC9, 0xFF, 0x53, 0x18});
  return out.Size();
}

// Version 1, no handler; the prolog's one code: UWOP_ALLOC_SMALL of 40
// bytes at its end, then the padding slot.
// For the outside call: UWOP_ALLOC_SMALL of 32 bytes at 5, UWOP_PUSH_NONVOL
// of rbx at 1, latest first.
void RegisterUnwind(uint8_t* pages, LingeringData* data, size_t forwarderSize, size_t callOutsideSize) {
  const uint8_t forwarder[8] = {0x01, kForwarderPrologSize, 1, 0, kForwarderPrologSize, 0x42, 0, 0};
  const uint8_t callOutside[8] = {0x01, kCallOutsidePrologSize, 2, 0, 5, 0x32, 1, 0x30};
  std::memcpy(data->unwind[0], forwarder, sizeof(forwarder));
  std::memcpy(data->unwind[1], callOutside, sizeof(callOutside));
  data->functions[0] = {0, static_cast<DWORD>(forwarderSize), static_cast<DWORD>(data->unwind[0] - pages)};
  data->functions[1] = {static_cast<DWORD>(kCallOutsideOffset), static_cast<DWORD>(kCallOutsideOffset + callOutsideSize),
                        static_cast<DWORD>(data->unwind[1] - pages)};
  RtlAddFunctionTable(data->functions, 2, reinterpret_cast<DWORD64>(pages));
}

// Win64 (ThreadStart* start in rcx):
//   movl $1, %edx; xorl %eax, %eax; lock cmpxchgl %edx, (%rcx); jne abandoned
//   movq 8(%rcx), %rax; movq 16(%rcx), %rcx; jmp *%rax
//   abandoned: movq 24(%rcx), %rax; subq $40, %rsp; xorl %ecx, %ecx; call *%rax
void WriteThreadStart(uint8_t* code) {
  CodeWriter out(code);
  out.Bytes({0xBA, 0x01, 0x00, 0x00, 0x00, 0x31, 0xC0, 0xF0, 0x0F, 0xB1, 0x11, 0x75, 0x0A});
  out.Bytes({0x48, 0x8B, 0x41, 0x08, 0x48, 0x8B, 0x49, 0x10, 0xFF, 0xE0});
  out.Bytes({0x48, 0x8B, 0x41, 0x18, 0x48, 0x83, 0xEC, 0x28, 0x31, 0xC9, 0xFF, 0xD0});
}
#endif

LingeringCode gCode;
INIT_ONCE gMade = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK MakeLingeringCode(INIT_ONCE*, void*, void**) {
  auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (pages == nullptr) return TRUE;
  auto* data = reinterpret_cast<LingeringData*>(pages + kPage);
  data->forwarder.inside = 0;
  data->forwarder.open = 1;
  data->forwarder.target = reinterpret_cast<void*>(&ReportStatus);
  for (ThreadStart& start : data->starts) start.state = kThreadStartFree;
  const size_t forwarderSize = WriteForwarder(pages, &data->forwarder);
  WriteThreadStart(pages + kThreadStartOffset);
#if defined(__x86_64__)
  const size_t callOutsideSize = WriteCallOutside(pages + kCallOutsideOffset);
#else
  WriteCallOutside(pages + kCallOutsideOffset);
#endif
  DWORD previous = 0;
  if (forwarderSize > kThreadStartOffset || !VirtualProtect(pages, kPage, PAGE_EXECUTE_READ, &previous)) {
    VirtualFree(pages, 0, MEM_RELEASE);
    return TRUE;
  }
#if defined(__x86_64__)
  RegisterUnwind(pages, data, forwarderSize, callOutsideSize);
#endif
  FlushInstructionCache(GetCurrentProcess(), pages, kPage);
  gCode.forwarder = reinterpret_cast<StatusCallbackFn>(reinterpret_cast<void*>(pages));
  gCode.forwarderData = &data->forwarder;
  gCode.threadStart = reinterpret_cast<Os::Thread::Procedure>(reinterpret_cast<void*>(pages + kThreadStartOffset));
  gCode.callOutside = reinterpret_cast<OutsideCallFn>(reinterpret_cast<void*>(pages + kCallOutsideOffset));
  gCode.starts = data->starts;
  gCode.startCount = kThreadStarts;
  gCode.lastCallData = data->lastCallData;
  gCode.lastCallDataSize = kLastCallDataSize;
  return TRUE;
}

}  // namespace

const LingeringCode* Lingering() {
  InitOnceExecuteOnce(&gMade, &MakeLingeringCode, nullptr, nullptr);
  return gCode.forwarder != nullptr ? &gCode : nullptr;
}

ThreadStart* ClaimThreadStart(Os::Thread::Procedure procedure, void* argument) {
  const LingeringCode* code = Lingering();
  if (code == nullptr) return nullptr;
  for (size_t i = 0; i < code->startCount; ++i) {
    ThreadStart* start = &code->starts[i];
    if (InterlockedCompareExchange(&start->state, kThreadWaiting, kThreadStartFree) != kThreadStartFree) continue;
    start->procedure = procedure;
    start->argument = argument;
    start->exitThread = reinterpret_cast<void*>(&ExitThread);
    start->heldModule = nullptr;
    start->freeAndExit = reinterpret_cast<void*>(&FreeLibraryAndExitThread);
    start->lastCall = nullptr;
    return start;
  }
  return nullptr;
}

void ReleaseThreadStart(ThreadStart* start) { InterlockedExchange(&start->state, kThreadStartFree); }
