#include "loader/lingering_code.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "loader/status_report.h"

namespace {

constexpr size_t kPage = 4096;
// Offsets in the code page.
constexpr size_t kThreadStartOffset = 64;  // after the forwarder
constexpr size_t kCallOutsideOffset = 128;
constexpr size_t kHostCallReturnOffset = 288;
constexpr size_t kReturnZeroOffset = 320;
constexpr size_t kGatesOffset = 384;
constexpr size_t kGateStride = 192;
constexpr size_t kDataPages = 2;
constexpr size_t kThreadStarts = 40;
constexpr size_t kLastCallDataSize = 640;

struct LingeringData {
  ForwarderData forwarder;
  ThreadStart starts[kThreadStarts];
  CallbackGateData gates[kCallbackGates];
  void* currentThreadId;  // GetCurrentThreadId, for the gates
  void* freeLibrary;      // FreeLibrary, for the host call's return
  alignas(8) uint8_t lastCallData[kLastCallDataSize];
#if defined(__x86_64__)
  // Unwind data of the code below that calls out, so that an exception
  // raised below it is dispatched through its frames (registered for good):
  // the forwarder, the outside call, the host call's return, the gates.
  RUNTIME_FUNCTION functions[3 + kCallbackGates];
  alignas(4) uint8_t unwind[3][8];
#endif
};
static_assert(sizeof(LingeringData) <= kDataPages * kPage, "the data pages");
static_assert(kGatesOffset + kCallbackGates * kGateStride <= kPage, "one code page");

// The start code addresses the record in machine words.
constexpr size_t kWord = sizeof(void*);
static_assert(offsetof(ThreadStart, procedure) == kWord && offsetof(ThreadStart, argument) == 2 * kWord &&
                  offsetof(ThreadStart, exitThread) == 3 * kWord && offsetof(ThreadStart, heldModule) == 4 * kWord &&
                  offsetof(ThreadStart, freeAndExit) == 5 * kWord && offsetof(ThreadStart, lastCall) == 6 * kWord &&
                  offsetof(ThreadStart, lastArgs) == 7 * kWord && offsetof(ThreadStart, threadId) == 9 * kWord &&
                  sizeof(ThreadStart) == 10 * kWord,
              "the start code's and the gates' offsets");

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
// cdecl (ThreadStart* self, fn, a, b, c, d, e); fn may be cdecl or
// stdcall: the stack is restored from the frame.
//   pushl %ebp; movl %esp, %ebp; pushl %ebx; movl 8(%ebp), %ebx
//   movl $1, %eax; movl $4, %edx; lock cmpxchgl %edx, (%ebx)
//   pushl 32(%ebp); pushl 28(%ebp); pushl 24(%ebp); pushl 20(%ebp); pushl 16(%ebp); call *12(%ebp)
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
  out.Bytes({0xFF, 0x75, 0x20, 0xFF, 0x75, 0x1C, 0xFF, 0x75, 0x18, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x55, 0x0C});
  out.Bytes({0x8D, 0x65, 0xFC, 0x50});
  out.Bytes({0xB8, 0x04, 0x00, 0x00, 0x00, 0xBA, 0x01, 0x00, 0x00, 0x00, 0xF0, 0x0F, 0xB1, 0x13, 0x75, 0x04});
  out.Bytes({0x58, 0x5B, 0x5D, 0xC3});
  out.Bytes({0x8B, 0x43, 0x18, 0x85, 0xC0, 0x74, 0x08, 0xFF, 0x73, 0x20, 0xFF, 0x73, 0x1C, 0xFF, 0xD0});
  out.Bytes({0x8B, 0x43, 0x10, 0x85, 0xC0, 0x74, 0x06, 0x6A, 0x00, 0x50, 0xFF, 0x53, 0x14});
  out.Bytes({0x6A, 0x00, 0xFF, 0x53, 0x0C});
}

// Entered by a jump with the host's return address on top, the module in
// ecx and the result in eax:
//   pushl %eax; pushl %ecx; call *freeLibrary; popl %eax; ret
void WriteHostCallReturn(uint8_t* code, LingeringData* data) {
  CodeWriter out(code);
  out.Bytes({0x50, 0x51, 0xFF, 0x15});
  out.Word(Absolute(&data->freeLibrary));
  out.Bytes({0x58, 0xC3});
}

// xorl %eax, %eax; ret $16
void WriteReturnZero(uint8_t* code) { CodeWriter(code).Bytes({0x31, 0xC0, 0xC2, 0x10, 0x00}); }

// stdcall (four arguments):
//   call *currentThreadId; movl $starts, %ecx; movl $count, %edx
//   next: cmpl %eax, 36(%ecx); je found; addl $40, %ecx; decl %edx; jnz next
//   direct: jmp *target
//   found: movl $4, %eax; movl $1, %edx; lock cmpxchgl %edx, (%ecx); jne other
//   pushl %ecx; pushl 20(%esp) (four times); call *target
//   popl %ecx; movl $4, %edx; xchgl %edx, (%ecx); ret $16
//   other: cmpl $2, %eax; jne direct; jmp *fallback
void WriteGate(uint8_t* code, LingeringData* data, CallbackGateData* gate) {
  CodeWriter out(code);
  out.Bytes({0xFF, 0x15});
  out.Word(Absolute(&data->currentThreadId));
  out.Bytes({0xB9});
  out.Word(Absolute(data->starts));
  out.Bytes({0xBA});
  out.Word(kThreadStarts);
  out.Bytes({0x39, 0x41, 0x24, 0x74, 0x0C, 0x83, 0xC1, 0x28, 0x4A, 0x75, 0xF5});
  out.Bytes({0xFF, 0x25});
  out.Word(Absolute(&gate->target));
  out.Bytes({0xB8, 0x04, 0x00, 0x00, 0x00, 0xBA, 0x01, 0x00, 0x00, 0x00, 0xF0, 0x0F, 0xB1, 0x11, 0x75, 0x22});
  out.Bytes({0x51, 0xFF, 0x74, 0x24, 0x14, 0xFF, 0x74, 0x24, 0x14, 0xFF, 0x74, 0x24, 0x14, 0xFF, 0x74, 0x24, 0x14});
  out.Bytes({0xFF, 0x15});
  out.Word(Absolute(&gate->target));
  out.Bytes({0x59, 0xBA, 0x04, 0x00, 0x00, 0x00, 0x87, 0x11, 0xC2, 0x10, 0x00});
  out.Bytes({0x83, 0xF8, 0x02, 0x75, 0xC3, 0xFF, 0x25});
  out.Word(Absolute(&gate->fallback));
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

// Win64 (self in rcx, fn in rdx, a in r8, b in r9, c, d, e on the stack):
//   pushq %rbx; subq $48, %rsp; movq %rcx, %rbx
//   movl $1, %eax; movl $4, %r10d; lock cmpxchgl %r10d, (%rbx)
//   movq %rdx, %rax; movq %r8, %rcx; movq %r9, %rdx; movq 96(%rsp), %r8; movq 104(%rsp), %r9
//   movq 112(%rsp), %r10; movq %r10, 32(%rsp); call *%rax
//   movq %rax, %r11; movl $4, %eax; movl $1, %edx; lock cmpxchgl %edx, (%rbx); jne abandoned
//   movq %r11, %rax; addq $48, %rsp; popq %rbx; ret
//   abandoned: movq 48(%rbx), %rax; testq %rax, %rax; jz free
//   movq 56(%rbx), %rcx; movq 64(%rbx), %rdx; call *%rax
//   free: movq 32(%rbx), %rcx; testq %rcx, %rcx; jz exit
//   xorl %edx, %edx; call *40(%rbx)
//   exit: xorl %ecx, %ecx; call *24(%rbx)
constexpr uint8_t kCallOutsidePrologSize = 5;

size_t WriteCallOutside(uint8_t* code) {
  CodeWriter out(code);
  out.Bytes({0x53, 0x48, 0x83, 0xEC, 0x30, 0x48, 0x89, 0xCB});
  out.Bytes({0xB8, 0x01, 0x00, 0x00, 0x00, 0x41, 0xBA, 0x04, 0x00, 0x00, 0x00, 0xF0, 0x44, 0x0F, 0xB1, 0x13});
  out.Bytes({0x48, 0x89, 0xD0, 0x4C, 0x89, 0xC1, 0x4C, 0x89, 0xCA, 0x4C, 0x8B, 0x44, 0x24, 0x60});
  out.Bytes({0x4C, 0x8B, 0x4C, 0x24, 0x68, 0x4C, 0x8B, 0x54, 0x24, 0x70, 0x4C, 0x89, 0x54, 0x24, 0x20, 0xFF, 0xD0});
  out.Bytes({0x49, 0x89, 0xC3, 0xB8, 0x04, 0x00, 0x00, 0x00, 0xBA, 0x01, 0x00, 0x00, 0x00});
  out.Bytes({0xF0, 0x0F, 0xB1, 0x13, 0x75, 0x09});
  out.Bytes({0x4C, 0x89, 0xD8, 0x48, 0x83, 0xC4, 0x30, 0x5B, 0xC3});
  out.Bytes({0x48, 0x8B, 0x43, 0x30, 0x48, 0x85, 0xC0, 0x74, 0x0A, 0x48, 0x8B, 0x4B, 0x38, 0x48, 0x8B, 0x53, 0x40});
  out.Bytes({0xFF, 0xD0});
  out.Bytes({0x48, 0x8B, 0x4B, 0x20, 0x48, 0x85, 0xC9, 0x74, 0x05, 0x31, 0xD2, 0xFF, 0x53, 0x28});
  out.Bytes({0x31, 0xC9, 0xFF, 0x53, 0x18});
  return out.Size();
}

// Entered by a jump with the host's return address on top, the module in
// rcx and the result in rax; the same frame as the forwarder's:
//   subq $40, %rsp; movq %rax, 32(%rsp); call *freeLibrary(%rip)
//   movq 32(%rsp), %rax; addq $40, %rsp; ret
size_t WriteHostCallReturn(uint8_t* code, LingeringData* data) {
  CodeWriter out(code);
  out.Bytes({0x48, 0x83, 0xEC, 0x28, 0x48, 0x89, 0x44, 0x24, 0x20, 0xFF, 0x15});
  out.Relative(&data->freeLibrary, 0);
  out.Bytes({0x48, 0x8B, 0x44, 0x24, 0x20, 0x48, 0x83, 0xC4, 0x28, 0xC3});
  return out.Size();
}

// xorl %eax, %eax; ret
void WriteReturnZero(uint8_t* code) { CodeWriter(code).Bytes({0x31, 0xC0, 0xC3}); }

// Win64 (four arguments in rcx, rdx, r8, r9): the arguments go to their
// home slots while the thread is looked up.
//   movq %rcx, 8(%rsp); movq %rdx, 16(%rsp); movq %r8, 24(%rsp); movq %r9, 32(%rsp)
//   subq $40, %rsp; call *currentThreadId(%rip)
//   movq 48(%rsp), %rcx; movq 56(%rsp), %rdx; movq 64(%rsp), %r8; movq 72(%rsp), %r9
//   leaq starts(%rip), %r10; movl $count, %r11d
//   next: cmpl %eax, 72(%r10); je found; addq $80, %r10; decl %r11d; jnz next
//   direct: addq $40, %rsp; jmp *target(%rip)
//   found: movl $4, %eax; movl $1, %r11d; lock cmpxchgl %r11d, (%r10); jne other
//   movq %r10, 32(%rsp); call *target(%rip)
//   movq 32(%rsp), %r10; movl $4, %ecx; xchgl %ecx, (%r10); addq $40, %rsp; ret
//   other: cmpl $2, %eax; jne direct; addq $40, %rsp; jmp *fallback(%rip)
constexpr uint8_t kGatePrologSize = 24;

size_t WriteGate(uint8_t* code, LingeringData* data, CallbackGateData* gate) {
  CodeWriter out(code);
  out.Bytes({0x48, 0x89, 0x4C, 0x24, 0x08, 0x48, 0x89, 0x54, 0x24, 0x10, 0x4C, 0x89, 0x44, 0x24, 0x18});
  out.Bytes({0x4C, 0x89, 0x4C, 0x24, 0x20, 0x48, 0x83, 0xEC, 0x28, 0xFF, 0x15});
  out.Relative(&data->currentThreadId, 0);
  out.Bytes({0x48, 0x8B, 0x4C, 0x24, 0x30, 0x48, 0x8B, 0x54, 0x24, 0x38});
  out.Bytes({0x4C, 0x8B, 0x44, 0x24, 0x40, 0x4C, 0x8B, 0x4C, 0x24, 0x48, 0x4C, 0x8D, 0x15});
  out.Relative(data->starts, 0);
  out.Bytes({0x41, 0xBB});
  out.Word(kThreadStarts);
  out.Bytes({0x41, 0x39, 0x42, 0x48, 0x74, 0x13, 0x49, 0x83, 0xC2, 0x50, 0x41, 0xFF, 0xCB, 0x75, 0xF1});
  out.Bytes({0x48, 0x83, 0xC4, 0x28, 0xFF, 0x25});
  out.Relative(&gate->target, 0);
  out.Bytes({0xB8, 0x04, 0x00, 0x00, 0x00, 0x41, 0xBB, 0x01, 0x00, 0x00, 0x00, 0xF0, 0x45, 0x0F, 0xB1, 0x1A, 0x75, 0x1D});
  out.Bytes({0x4C, 0x89, 0x54, 0x24, 0x20, 0xFF, 0x15});
  out.Relative(&gate->target, 0);
  out.Bytes({0x4C, 0x8B, 0x54, 0x24, 0x20, 0xB9, 0x04, 0x00, 0x00, 0x00, 0x41, 0x87, 0x0A, 0x48, 0x83, 0xC4, 0x28, 0xC3});
  out.Bytes({0x83, 0xF8, 0x02, 0x75, 0xC2, 0x48, 0x83, 0xC4, 0x28, 0xFF, 0x25});
  out.Relative(&gate->fallback, 0);
  return out.Size();
}

// Version 1, no handler; for the forwarder (and the host call's return,
// which has the same frame): UWOP_ALLOC_SMALL of 40 bytes at the prolog's
// end, then the padding slot. For the outside call: UWOP_ALLOC_SMALL of 48
// bytes at 5, UWOP_PUSH_NONVOL of rbx at 1, latest first. For a gate: 40
// bytes at its prolog's end (the argument stores before are no frame codes).
struct CodeRange {
  size_t offset;
  size_t size;
};

void RegisterUnwind(uint8_t* pages, LingeringData* data, CodeRange forwarder, CodeRange callOutside,
                    CodeRange hostCallReturn, CodeRange gates) {
  const uint8_t small[8] = {0x01, kForwarderPrologSize, 1, 0, kForwarderPrologSize, 0x42, 0, 0};
  const uint8_t outside[8] = {0x01, kCallOutsidePrologSize, 2, 0, 5, 0x52, 1, 0x30};
  const uint8_t gate[8] = {0x01, kGatePrologSize, 1, 0, kGatePrologSize, 0x42, 0, 0};
  std::memcpy(data->unwind[0], small, sizeof(small));
  std::memcpy(data->unwind[1], outside, sizeof(outside));
  std::memcpy(data->unwind[2], gate, sizeof(gate));
  auto entry = [&](CodeRange range, int unwind) {
    return RUNTIME_FUNCTION{static_cast<DWORD>(range.offset), static_cast<DWORD>(range.offset + range.size),
                            static_cast<DWORD>(data->unwind[unwind] - pages)};
  };
  data->functions[0] = entry(forwarder, 0);
  data->functions[1] = entry(callOutside, 1);
  data->functions[2] = entry(hostCallReturn, 0);
  for (size_t i = 0; i < kCallbackGates; ++i) {
    data->functions[3 + i] = entry({gates.offset + i * kGateStride, gates.size}, 2);
  }
  RtlAddFunctionTable(data->functions, 3 + kCallbackGates, reinterpret_cast<DWORD64>(pages));
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
  auto* pages =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, (1 + kDataPages) * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (pages == nullptr) return TRUE;
  auto* data = reinterpret_cast<LingeringData*>(pages + kPage);
  data->forwarder.inside = 0;
  data->forwarder.open = 1;
  data->forwarder.target = reinterpret_cast<void*>(&ReportStatus);
  for (ThreadStart& start : data->starts) start.state = kThreadStartFree;
  data->currentThreadId = reinterpret_cast<void*>(&GetCurrentThreadId);
  data->freeLibrary = reinterpret_cast<void*>(&FreeLibrary);
  const size_t forwarderSize = WriteForwarder(pages, &data->forwarder);
  WriteThreadStart(pages + kThreadStartOffset);
  WriteReturnZero(pages + kReturnZeroOffset);
#if defined(__x86_64__)
  const size_t callOutsideSize = WriteCallOutside(pages + kCallOutsideOffset);
  const size_t hostCallReturnSize = WriteHostCallReturn(pages + kHostCallReturnOffset, data);
  size_t gateSize = 0;
  for (size_t i = 0; i < kCallbackGates; ++i) gateSize = WriteGate(pages + kGatesOffset + i * kGateStride, data, &data->gates[i]);
#else
  WriteCallOutside(pages + kCallOutsideOffset);
  WriteHostCallReturn(pages + kHostCallReturnOffset, data);
  for (size_t i = 0; i < kCallbackGates; ++i) WriteGate(pages + kGatesOffset + i * kGateStride, data, &data->gates[i]);
#endif
  DWORD previous = 0;
  if (forwarderSize > kThreadStartOffset || !VirtualProtect(pages, kPage, PAGE_EXECUTE_READ, &previous)) {
    VirtualFree(pages, 0, MEM_RELEASE);
    return TRUE;
  }
#if defined(__x86_64__)
  RegisterUnwind(pages, data, {0, forwarderSize}, {kCallOutsideOffset, callOutsideSize},
                 {kHostCallReturnOffset, hostCallReturnSize}, {kGatesOffset, gateSize});
#endif
  FlushInstructionCache(GetCurrentProcess(), pages, kPage);
  gCode.forwarder = reinterpret_cast<StatusCallbackFn>(reinterpret_cast<void*>(pages));
  gCode.forwarderData = &data->forwarder;
  gCode.threadStart = reinterpret_cast<Os::Thread::Procedure>(reinterpret_cast<void*>(pages + kThreadStartOffset));
  gCode.callOutside = reinterpret_cast<OutsideCallFn>(reinterpret_cast<void*>(pages + kCallOutsideOffset));
  gCode.hostCallReturn = pages + kHostCallReturnOffset;
  gCode.starts = data->starts;
  gCode.startCount = kThreadStarts;
  gCode.lastCallData = data->lastCallData;
  gCode.lastCallDataSize = kLastCallDataSize;
  for (size_t i = 0; i < kCallbackGates; ++i) gCode.gateCode[i] = pages + kGatesOffset + i * kGateStride;
  gCode.gates = data->gates;
  gCode.returnZero = pages + kReturnZeroOffset;
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
    start->threadId = 0;
    return start;
  }
  return nullptr;
}

void ReleaseThreadStart(ThreadStart* start) {
  start->threadId = 0;
  InterlockedExchange(&start->state, kThreadStartFree);
}
