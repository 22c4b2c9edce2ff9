#pragma once

#include <cstdint>
#include <string>

namespace Os {

// Process-wide names of threads, keyed by thread id; used to label log lines
// and trap reports. Safe from any thread; does nothing once process exit has
// begun tearing the registry down.
void SetThreadName(uint32_t id, const std::wstring& name);
void RemoveThreadName(uint32_t id);
// The stored name, or (stored from then on) the id in decimal digits.
std::wstring GetThreadName(uint32_t id);

}  // namespace Os
