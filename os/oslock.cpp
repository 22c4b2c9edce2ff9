#include "os/oslock.h"

namespace Os {

CriticalSection::CriticalSection() : section_(std::make_unique<CRITICAL_SECTION>()) {
  InitializeCriticalSection(section_.get());
}

CriticalSection::~CriticalSection() {
  // Entering first makes destruction wait for a thread still inside.
  EnterCriticalSection(section_.get());
  DeleteCriticalSection(section_.get());
}

void CriticalSection::Lock() { EnterCriticalSection(section_.get()); }
void CriticalSection::Unlock() { LeaveCriticalSection(section_.get()); }
bool CriticalSection::TryLock() { return TryEnterCriticalSection(section_.get()) != FALSE; }

}  // namespace Os
