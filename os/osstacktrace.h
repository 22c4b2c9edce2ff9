#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Os {

// A return address: 32 bits on i686, the pointer size elsewhere.
using StackAddress = uintptr_t;

// The framework's standard number of return addresses kept per stack.
constexpr uint32_t kStackCapacity = 32;

// Return addresses of a thread's stack, innermost first; at most capacity
// are stored. 0 when nothing could be captured (no debug help library, the
// thread cannot be opened or read).
uint32_t CaptureStack(uint32_t threadId, StackAddress* addresses, uint32_t capacity);
// CaptureStack for the calling thread, 32 entries.
uint32_t CaptureCurrentStack(StackAddress* addresses);

// One frame line per address ("[0x%08x] name + 0x%x" on i686, the address
// as wide as a pointer elsewhere; "(null)" for address 0),
// or no line where the lookup failed. Nothing when the debug help library is
// missing, count is 0 or memory runs out. The first address is taken as where its thread
// stands, every later one as a return address: those are named after the
// function that holds the call, the byte before them.
using FrameLines = std::vector<std::optional<std::string>>;
std::optional<FrameLines> SymbolizeAddresses(const StackAddress* addresses, uint32_t count);

// The frame lines from index first on, each ending in a line feed; failed
// lookups are left out.
std::string FormatStackTrace(const StackAddress* addresses, uint32_t count, uint32_t first);

// The calling function's stack as text, without the capture's own frames.
std::string CurrentStackText();

}  // namespace Os
