#pragma once

#include <cstdint>
#include <string>

namespace Os {

// The operating system's name from its version numbers; "Unknown" when the
// version could not be read.
std::wstring OperatingSystemName(bool known, unsigned long major, unsigned long minor);
// Whole mebibytes, "%I64u MB".
std::wstring MemoryText(uint64_t bytes);

}  // namespace Os
