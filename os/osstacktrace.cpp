#include "os/osstacktrace.h"

#include <cstdio>
#include <algorithm>
#include <memory>

#include <windows.h>

#include "os/win32/debughelp.h"
#include "os/win32/handle.h"

namespace Os {
namespace {

constexpr DWORD kFullThreadAccess = 0x1F03FF;
constexpr DWORD kMaxSymbolName = 1024;

DWORD64 Widen(uint32_t address) {
  return static_cast<DWORD64>(static_cast<int64_t>(static_cast<int32_t>(address)));
}

// RtlCaptureContext records the registers of its caller's caller (it reads
// them from the caller's frame), so calling it from here captures the frame
// of whoever called this function: the stack then begins in CaptureStack.
__attribute__((noinline)) bool CaptureCallerContext(CONTEXT* context) {
  using CaptureContext = VOID(WINAPI*)(PCONTEXT);
  static auto capture = reinterpret_cast<CaptureContext>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "RtlCaptureContext")));
  if (capture == nullptr) return false;
  capture(context);
  asm volatile("");  // keeps the call from becoming a tail call
  return true;
}

uint32_t WalkStack(HANDLE thread, CONTEXT* context, uint32_t* addresses, uint32_t capacity) {
  const DebugHelp& help = DebugHelpEntries();
  STACKFRAME64 frame{};
  frame.AddrPC.Offset = context->Eip;
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = context->Ebp;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Offset = context->Esp;
  frame.AddrStack.Mode = AddrModeFlat;
  uint32_t count = 0;
  while (count < capacity &&
         help.StackWalk64(IMAGE_FILE_MACHINE_I386, GetCurrentProcess(), thread, &frame, context,
                          nullptr, help.SymFunctionTableAccess64, help.SymGetModuleBase64,
                          nullptr)) {
    if (frame.AddrPC.Offset == frame.AddrReturn.Offset) break;
    addresses[count++] = static_cast<uint32_t>(frame.AddrPC.Offset);
    if (frame.AddrReturn.Offset == 0) break;
  }
  return count;
}

}  // namespace

// Not inlined: callers skip a fixed number of innermost frames.
__attribute__((noinline)) uint32_t CaptureStack(uint32_t threadId, uint32_t* addresses,
                                                uint32_t capacity) {
  if (capacity == 0 || !EnsureSymbols()) return 0;
  UniqueHandle thread(OpenThread(kFullThreadAccess, FALSE, threadId));
  if (!thread) return 0;
  bool isCallingThread = threadId == GetCurrentThreadId();
  Key key(DebugHelpLock());
  if (!isCallingThread) SuspendThread(thread.get());
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;  // 0x10007
  bool haveContext = isCallingThread ? CaptureCallerContext(&context)
                                     : GetThreadContext(thread.get(), &context) != FALSE;
  uint32_t count = 0;
  if (haveContext) {
    count = WalkStack(thread.get(), &context, addresses, capacity);
  }
  if (!isCallingThread) ResumeThread(thread.get());
  return count;
}

__attribute__((noinline)) uint32_t CaptureCurrentStack(uint32_t* addresses) {
  return CaptureStack(GetCurrentThreadId(), addresses, kStackCapacity);
}

std::optional<FrameLines> SymbolizeAddresses(const uint32_t* addresses, uint32_t count) {
  if (count == 0 || !LoadDebugHelp()) return std::nullopt;
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
    if (!help.SymGetSymFromAddr64(GetCurrentProcess(), Widen(addresses[i]), &displacement,
                                  symbol)) {
      continue;
    }
    name[0] = '\0';
    help.UnDecorateSymbolName(symbol->Name, name, kMaxSymbolName, UNDNAME_COMPLETE);
    std::snprintf(line, sizeof(line), "[0x%08x] %s + 0x%x", addresses[i], name,
                  static_cast<unsigned>(displacement));
    lines[i] = line;
  }
  return lines;
}

std::string FormatStackTrace(const uint32_t* addresses, uint32_t count, uint32_t first) {
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
  uint32_t addresses[kStackCapacity];
  uint32_t count = CaptureCurrentStack(addresses);
  return FormatStackTrace(addresses, count, 2);
}

}  // namespace Os
