#include "loader/module_gate.h"

bool WaitForModuleCalls(DWORD timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  // Calls into the module are short (a buffer pointer, a message copy):
  // yield first, then sleep.
  for (int spins = 0; gModuleCallsInFlight.load() != 0; ++spins) {
    if (GetTickCount64() - start >= timeoutMs) return false;
    if (spins < 64) {
      SwitchToThread();
    } else {
      Sleep(1);
    }
  }
  return true;
}
