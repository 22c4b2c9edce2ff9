#pragma once

namespace Os {

// The one entry point of every trap: reports "Trap: '<condition>' is TRUE"
// with the source line and path, then ends the process. Never returns.
[[noreturn]] void Trap(const char* condition, int line, const char* sourcePath);

}  // namespace Os

// Traps when the condition holds; the condition's source text is the message.
#define OS_TRAP_IF(condition, sourcePath, line)             \
  do {                                                      \
    if (condition) ::Os::Trap(#condition, line, sourcePath); \
  } while (0)
