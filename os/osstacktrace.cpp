#include "os/osstacktrace.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>

#include <windows.h>

#include "os/win32/debughelp.h"
#include "os/win32/handle.h"
#include "os/win32/walk_memory.h"

namespace Os {
namespace {

constexpr DWORD kFullThreadAccess = 0x1F03FF;
constexpr DWORD kMaxSymbolName = 1024;

#if defined(__i386__)
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;
DWORD64 ProgramCounter(const CONTEXT& context) { return context.Eip; }
DWORD64 FramePointer(const CONTEXT& context) { return context.Ebp; }
DWORD64 StackPointer(const CONTEXT& context) { return context.Esp; }
// dbghelp takes 32-bit addresses sign-extended.
DWORD64 Widen(StackAddress address) {
  return static_cast<DWORD64>(static_cast<int64_t>(static_cast<int32_t>(address)));
}
#elif defined(__x86_64__)
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
DWORD64 ProgramCounter(const CONTEXT& context) { return context.Rip; }
DWORD64 FramePointer(const CONTEXT& context) { return context.Rbp; }
DWORD64 StackPointer(const CONTEXT& context) { return context.Rsp; }
DWORD64 Widen(StackAddress address) { return address; }
#endif

// The stack must begin in CaptureStack, whose frame stays live through the
// walk. On i686 RtlCaptureContext records its caller's caller (it reads the
// registers from its caller's frame), so it is called from a function of
// its own; on x86_64 it records its direct caller, so it is called inline.
#if defined(__i386__)
__attribute__((noinline))
#else
__attribute__((always_inline)) inline
#endif
bool CaptureCallerContext(CONTEXT* context) {
  using CaptureContext = VOID(WINAPI*)(PCONTEXT);
  static auto capture = reinterpret_cast<CaptureContext>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "RtlCaptureContext")));
  if (capture == nullptr) return false;
  capture(context);
  asm volatile("");  // keeps the call from becoming a tail call
  return true;
}

uint32_t WalkStack(HANDLE thread, CONTEXT* context, StackAddress* addresses, uint32_t capacity) {
  const DebugHelp& help = DebugHelpEntries();
  STACKFRAME64 frame{};
  frame.AddrPC.Offset = ProgramCounter(*context);
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = FramePointer(*context);
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Offset = StackPointer(*context);
  frame.AddrStack.Mode = AddrModeFlat;
  WalkMemory memory(static_cast<uintptr_t>(frame.AddrStack.Offset));
  uint32_t count = 0;
  while (count < capacity && help.StackWalk64(kMachine, GetCurrentProcess(), thread, &frame, context, WalkMemory::Read,
                                              help.SymFunctionTableAccess64, help.SymGetModuleBase64, nullptr)) {
    if (frame.AddrPC.Offset == frame.AddrReturn.Offset) break;
    addresses[count++] = static_cast<StackAddress>(frame.AddrPC.Offset);
    if (frame.AddrReturn.Offset == 0) break;
  }
  return count;
}

// Every frame but the innermost holds a return address: the instruction
// after a call, which may already be the first byte of the next function
// when the call never returns (a trap). The call itself, one byte back,
// names the caller.
bool LookUp(const DebugHelp& help, StackAddress address, bool isReturnAddress, IMAGEHLP_SYMBOL64* symbol,
            DWORD64* displacement) {
  StackAddress lookedUp = isReturnAddress ? address - 1 : address;
  if (!help.SymGetSymFromAddr64(GetCurrentProcess(), Widen(lookedUp), displacement, symbol)) {
    return false;
  }
  *displacement += address - lookedUp;
  return true;
}

// SymbolizeAddresses once the library is loaded; out of memory throws.
FrameLines SymbolizeLoaded(const StackAddress* addresses, uint32_t count) {
  const DebugHelp& help = DebugHelpEntries();
  FrameLines lines(count);
  std::unique_ptr<char[]> storage(new char[sizeof(IMAGEHLP_SYMBOL64) + kMaxSymbolName]);
  auto* symbol = reinterpret_cast<IMAGEHLP_SYMBOL64*>(storage.get());
  char name[kMaxSymbolName];
  char line[1024];
  Key key(DebugHelpLock());
  for (uint32_t i = 0; i < count; ++i) {
    if (addresses[i] == 0) {
      lines[i] = "(null)";
      continue;
    }
    std::fill_n(storage.get(), sizeof(IMAGEHLP_SYMBOL64) + kMaxSymbolName, '\0');
    symbol->SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    symbol->MaxNameLength = kMaxSymbolName;
    DWORD64 displacement = 0;
    if (!LookUp(help, addresses[i], i > 0, symbol, &displacement)) continue;
    name[0] = '\0';
    help.UnDecorateSymbolName(symbol->Name, name, kMaxSymbolName, UNDNAME_COMPLETE);
    std::snprintf(line, sizeof(line), "[0x%0*llx] %s + 0x%x", static_cast<int>(2 * sizeof(StackAddress)),
                  static_cast<unsigned long long>(addresses[i]), name, static_cast<unsigned>(displacement));
    lines[i] = line;
  }
  return lines;
}

}  // namespace

// Not inlined: callers skip a fixed number of innermost frames.
__attribute__((noinline)) uint32_t CaptureStack(uint32_t threadId, StackAddress* addresses, uint32_t capacity) {
  if (capacity == 0 || !EnsureSymbols()) return 0;
  UniqueHandle thread(OpenThread(kFullThreadAccess, FALSE, threadId));
  if (!thread) return 0;
  bool isCallingThread = threadId == GetCurrentThreadId();
  Key key(DebugHelpLock());
  // Its stack is read directly: it must stay stopped, and so alive.
  if (!isCallingThread && SuspendThread(thread.get()) == static_cast<DWORD>(-1)) return 0;
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;  // 0x10007
  bool haveContext =
      isCallingThread ? CaptureCallerContext(&context) : GetThreadContext(thread.get(), &context) != FALSE;
  uint32_t count = 0;
  if (haveContext) {
    count = WalkStack(thread.get(), &context, addresses, capacity);
  }
  if (!isCallingThread) ResumeThread(thread.get());
  return count;
}

__attribute__((noinline)) uint32_t CaptureCurrentStack(StackAddress* addresses) {
  uint32_t count = CaptureStack(GetCurrentThreadId(), addresses, kStackCapacity);
  asm volatile("");  // a frame of its own, not a tail call: callers skip it
  return count;
}

std::optional<FrameLines> SymbolizeAddresses(const StackAddress* addresses, uint32_t count) {
  if (count == 0 || !LoadDebugHelp()) return std::nullopt;
  try {
    return SymbolizeLoaded(addresses, count);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {  // more lines than a vector can hold
    return std::nullopt;
  }
}

std::string FormatStackTrace(const StackAddress* addresses, uint32_t count, uint32_t first) {
  std::string text;
  std::optional<FrameLines> lines = SymbolizeAddresses(addresses, count);
  if (!lines) return text;
  for (uint32_t i = first; i < count; ++i) {
    if (!(*lines)[i]) continue;
    text += *(*lines)[i];
    text += '\n';
  }
  return text;
}

std::string CurrentStackText() {
  StackAddress addresses[kStackCapacity];
  uint32_t count = CaptureCurrentStack(addresses);
  return FormatStackTrace(addresses, count, 2);
}

}  // namespace Os
