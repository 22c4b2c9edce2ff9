#pragma once

#include <cstdint>
#include <memory>

#include <windows.h>

namespace Os {

class LockBase {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // Takes the lock if that is possible at once; true when taken.
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
  bool TryLock() override;

 private:
  std::unique_ptr<CRITICAL_SECTION> section_;
};

// A counting semaphore whose handle child processes inherit. It counts
// units, not owners: any thread may return a unit. A failing system call
// writes one line to standard error and aborts the process.
class Semaphore final : public LockBase {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFF;

  // A null name makes an unnamed semaphore.
  Semaphore(int32_t initialCount, const char* name);
  ~Semaphore() override;
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // True when a unit was taken, false when the time-out passed.
  bool Get(uint32_t timeoutMs);
  void Put();

  void Lock() override { Get(kInfinite); }
  void Unlock() override { Put(); }
  bool TryLock() override { return Get(0); }

 private:
  struct Record;
  std::unique_ptr<Record> record_;
};

// Up to readerSlots readers at once, or one writer. A writer collects every
// slot while holding the writer gate, so two writers never split the slots
// between them. A reader must not ask for the write lock.
class RwLock final : public LockBase {
 public:
  explicit RwLock(uint32_t readerSlots);
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  void ReadLock() { slots_.Get(Semaphore::kInfinite); }
  void ReadUnlock() { slots_.Put(); }
  void WriteLock();
  void WriteUnlock();

  void Lock() override { WriteLock(); }
  void Unlock() override { WriteUnlock(); }
  // All slots at once or none: a partial collection is given back.
  bool TryLock() override;

 private:
  uint32_t readerSlots_;
  Semaphore slots_;
  CriticalSection writerGate_;
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

// Holds a plain SRW lock exclusively for a short step. The lock stays a
// bare SRWLOCK, so a condition variable can wait on it.
class ShortLock {
 public:
  explicit ShortLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~ShortLock() { ReleaseSRWLockExclusive(&lock_); }
  ShortLock(const ShortLock&) = delete;
  ShortLock& operator=(const ShortLock&) = delete;

 private:
  SRWLOCK& lock_;
};

class ReadKey {
 public:
  explicit ReadKey(RwLock& lock) : lock_(&lock) { lock_->ReadLock(); }
  virtual ~ReadKey() { lock_->ReadUnlock(); }
  ReadKey(const ReadKey&) = delete;
  ReadKey& operator=(const ReadKey&) = delete;

 private:
  RwLock* lock_;
};

class WriteKey {
 public:
  explicit WriteKey(RwLock& lock) : lock_(&lock) { lock_->WriteLock(); }
  virtual ~WriteKey() { lock_->WriteUnlock(); }
  WriteKey(const WriteKey&) = delete;
  WriteKey& operator=(const WriteKey&) = delete;

 private:
  RwLock* lock_;
};

}  // namespace Os
