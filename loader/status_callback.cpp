#include "loader/status_callback.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "loader/status_report.h"
#include "os/ospoll.h"

namespace {

// Two pages: the code, made read-and-execute once written, and its data.
struct ForwarderData {
  volatile LONG inside;  // reports between entry and return
  volatile LONG open;    // 1 while the library is loaded
  void* target;          // ReportStatus
};

constexpr size_t kPage = 4096;

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
#elif defined(__x86_64__)
// Win64 (code in ecx, text in rdx), data addressed relative to rip:
//   lock incl inside(%rip); cmpl $0, open(%rip); je done
//   subq $40, %rsp; call *target(%rip); addq $40, %rsp
//   done: lock decl inside(%rip); ret
size_t WriteForwarder(uint8_t* code, ForwarderData* data) {
  CodeWriter out(code);
  out.Bytes({0xF0, 0xFF, 0x05});
  out.Relative(&data->inside, 0);
  out.Bytes({0x83, 0x3D});
  out.Relative(&data->open, 1);
  out.Bytes({0x00, 0x74, 0x0E});
  out.Bytes({0x48, 0x83, 0xEC, 0x28, 0xFF, 0x15});
  out.Relative(&data->target, 0);
  out.Bytes({0x48, 0x83, 0xC4, 0x28, 0xF0, 0xFF, 0x0D});
  out.Relative(&data->inside, 0);
  out.Bytes({0xC3});
  return out.Size();
}
#endif

std::atomic<ForwarderData*> gData{nullptr};
std::atomic<StatusCallbackFn> gForwarder{nullptr};

StatusCallbackFn MakeForwarder() {
  auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (pages == nullptr) return nullptr;
  auto* data = reinterpret_cast<ForwarderData*>(pages + kPage);
  data->inside = 0;
  data->open = 1;
  data->target = reinterpret_cast<void*>(&ReportStatus);
  size_t size = WriteForwarder(pages, data);
  DWORD previous = 0;
  if (!VirtualProtect(pages, kPage, PAGE_EXECUTE_READ, &previous)) {
    VirtualFree(pages, 0, MEM_RELEASE);
    return nullptr;
  }
  FlushInstructionCache(GetCurrentProcess(), pages, size);
  gData.store(data);
  return reinterpret_cast<StatusCallbackFn>(reinterpret_cast<void*>(pages));
}

}  // namespace

StatusCallbackFn ModuleStatusCallback() {
  // Only the connection worker binds modules, one at a time.
  if (StatusCallbackFn forwarder = gForwarder.load()) return forwarder;
  StatusCallbackFn forwarder = MakeForwarder();
  gForwarder.store(forwarder);
  return forwarder != nullptr ? forwarder : &ReportStatus;
}

bool RetireModuleStatusCallback(DWORD timeoutMs) {
  ForwarderData* data = gData.load();
  if (data == nullptr) return true;
  InterlockedExchange(&data->open, 0);
  return Os::PollUntil([&] { return InterlockedCompareExchange(&data->inside, 0, 0) == 0; }, timeoutMs);
}
