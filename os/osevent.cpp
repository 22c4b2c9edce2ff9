#include "os/osevent.h"

#include <cstdint>
#include <utility>

#include "os/ostrap.h"

namespace Os {
namespace {

int32_t pseudoBlockNesting = 0;
PseudoBlockHandler* pseudoBlockHandler = nullptr;

}  // namespace

PseudoBlockHandler* PseudoBlockEvent::GetHandler() { return pseudoBlockHandler; }

PseudoBlockHandler* PseudoBlockEvent::SetHandler(PseudoBlockHandler* handler) {
  return std::exchange(pseudoBlockHandler, handler);
}

PseudoBlockWait::PseudoBlockWait() { ++pseudoBlockNesting; }

PseudoBlockWait::~PseudoBlockWait() {
  if (--pseudoBlockNesting != 0) return;
  OS_TRAP_IF(!Os::PseudoBlockEvent::GetHandler(), "os\\osevent", 373);
  PseudoBlockEvent::GetHandler()->BlockEnded();
}

}  // namespace Os
