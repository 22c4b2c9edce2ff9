#pragma once

#include <cstdint>

#include <windows.h>

namespace Os {

// Polls done() until it holds or timeoutMs has passed; true when it held.
// For waiting out other threads' short calls, which leave nothing to wait
// on: yields first, then sleeps a millisecond at a time.
template <typename Done>
bool PollUntil(Done&& done, uint32_t timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  for (int polls = 0; !done(); ++polls) {
    if (GetTickCount64() - start >= timeoutMs) return false;
    if (polls < 64) {
      SwitchToThread();
    } else {
      Sleep(1);
    }
  }
  return true;
}

}  // namespace Os
