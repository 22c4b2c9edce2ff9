#pragma once

#include <cstdint>
#include <string>

namespace kel {

// The little the base library needs of the operating-system layer, which
// sits above it and installs these as it starts (os/ostrap.cpp). Until then
// exceptions carry no stack and a failed check aborts at once.
struct Platform {
  // The calling thread's return addresses, innermost first; how many.
  uint32_t (*captureStack)(uintptr_t* addresses);
  // One line per address from first on.
  std::string (*formatStack)(const uintptr_t* addresses, uint32_t count, uint32_t first);
  // Reports "Trap: '<condition>' is TRUE" and ends the process.
  void (*trap)(const char* condition, int line, const char* sourcePath);
};

void InstallPlatform(const Platform& platform);
const Platform& InstalledPlatform();

}  // namespace kel

// Traps when the condition holds; the condition's source text is the message.
#define KEL_TRAP_IF(condition, sourcePath, line)                                  \
  do {                                                                            \
    if (condition) ::kel::InstalledPlatform().trap(#condition, line, sourcePath); \
  } while (0)
