#pragma once

#include <memory>

#include <windows.h>

namespace Os {

class LockBase {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual bool TryLock() = 0;
  virtual ~LockBase() = default;
};

// Recursive: the holder may lock again, each Lock needs its Unlock.
class CriticalSection final : public LockBase {
 public:
  CriticalSection();
  ~CriticalSection() override;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Lock() override;
  void Unlock() override;
  // True when the section was taken (and is now held by the caller).
  bool TryLock() override;

 private:
  std::unique_ptr<CRITICAL_SECTION> section_;
};

// Holds a lock for the life of a block.
class Key {
 public:
  explicit Key(LockBase& lock) : lock_(&lock) { lock_->Lock(); }
  virtual ~Key() { lock_->Unlock(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

 private:
  LockBase* lock_;
};

}  // namespace Os
