#include "os/oslock.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/osmodulename.h"
#include "os/win32/handle.h"

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

struct Semaphore::Record {
  std::string name;  // only for failure lines
  UniqueHandle handle;
};

namespace {

// Nothing can go on once a semaphore fails: every lock built on it would
// stop excluding.
[[noreturn]] void FailSemaphore(const char* step, const std::string& name) {
  DWORD code = GetLastError();
  std::fprintf(stderr, "%sError %s %s semaphore: %lu\n", MainModuleBaseName().c_str(), step, name.c_str(),
               static_cast<unsigned long>(code));
  std::fflush(stderr);
  std::abort();
}

}  // namespace

Semaphore::Semaphore(int32_t initialCount, const char* name) : record_(std::make_unique<Record>()) {
  if (name != nullptr) record_->name = name;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  record_->handle.reset(CreateSemaphoreA(&inheritable, initialCount, 0x7FFFFFFF, name));
  if (!record_->handle) FailSemaphore("creating", record_->name);
}

Semaphore::~Semaphore() = default;

bool Semaphore::Get(uint32_t timeoutMs) {
  DWORD result = WaitForSingleObject(record_->handle.get(), timeoutMs);
  if (result == WAIT_FAILED) FailSemaphore("getting", record_->name);
  return result == WAIT_OBJECT_0;
}

void Semaphore::Put() {
  if (!ReleaseSemaphore(record_->handle.get(), 1, nullptr)) FailSemaphore("putting", record_->name);
}

RwLock::RwLock(uint32_t readerSlots) : readerSlots_(readerSlots), slots_(static_cast<int32_t>(readerSlots), nullptr) {}

void RwLock::WriteLock() {
  Key gate(writerGate_);
  for (uint32_t i = 0; i < readerSlots_; ++i) slots_.Get(Semaphore::kInfinite);
}

void RwLock::WriteUnlock() {
  for (uint32_t i = 0; i < readerSlots_; ++i) slots_.Put();
}

bool RwLock::TryLock() {
  for (uint32_t taken = 0; taken < readerSlots_; ++taken) {
    if (!slots_.Get(0)) {
      while (taken-- > 0) slots_.Put();
      return false;
    }
  }
  return true;
}

}  // namespace Os
