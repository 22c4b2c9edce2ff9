#pragma once

namespace Os {

// The one entry point of every trap: reports "Trap: '<condition>' is TRUE"
// with the source line and path, then ends the process. Never returns.
[[noreturn]] void Trap(const char* condition, int line, const char* sourcePath);

// Writes the report (message, where, line, version and this thread's stack)
// to the debugger, shows it in the fatal-error dialog and aborts. where is
// the source path followed by the build date, e.g. "os\\ostls (Jul 12 2013) ".
[[noreturn]] void ReportTrap(const char* message, unsigned line, const char* where);

}  // namespace Os

// Traps when the condition holds; the condition's source text is the message.
#define OS_TRAP_IF(condition, sourcePath, line)              \
  do {                                                       \
    if (condition) ::Os::Trap(#condition, line, sourcePath); \
  } while (0)
