#include "loader/module_gate.h"

#include "os/ospoll.h"

namespace Ixa {

bool WaitForModuleCalls(const ModuleCallCount& retired, DWORD timeoutMs) {
  // Calls into the module are short (a buffer pointer, a message copy).
  return Os::PollUntil([&] { return retired.inside.load() == 0; }, timeoutMs);
}

}  // namespace Ixa
