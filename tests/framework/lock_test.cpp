#include "os/oslock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os/osevent.h"
#include "os/ostls.h"
#include "os/win32/unique_resource.h"

namespace {

// Long enough for a thread that should be blocked to have gone on otherwise.
constexpr DWORD kSettleMs = 100;

TEST(RwLock, TenReadersThenTheEleventhWaits) {
  Os::RwLock lock(10);
  for (int i = 0; i < 10; ++i) lock.ReadLock();
  std::atomic<bool> eleventhIn{false};
  std::thread eleventh([&] {
    Os::ReadKey key(lock);
    eleventhIn = true;
  });
  Sleep(kSettleMs);
  EXPECT_FALSE(eleventhIn.load());
  lock.ReadUnlock();
  eleventh.join();
  EXPECT_TRUE(eleventhIn.load());
  for (int i = 0; i < 9; ++i) lock.ReadUnlock();
}

TEST(RwLock, WriterWaitsForEveryReaderAndReadersWaitForTheWriter) {
  Os::RwLock lock(10);
  for (int i = 0; i < 10; ++i) lock.ReadLock();
  std::atomic<bool> writerIn{false};
  std::atomic<bool> writerDone{false};
  std::thread writer([&] {
    Os::WriteKey key(lock);
    writerIn = true;
    while (!writerDone) Sleep(1);
  });
  for (int i = 0; i < 9; ++i) lock.ReadUnlock();
  Sleep(kSettleMs);
  EXPECT_FALSE(writerIn.load());
  lock.ReadUnlock();
  while (!writerIn) Sleep(1);

  std::atomic<bool> readerIn{false};
  std::thread reader([&] {
    Os::ReadKey key(lock);
    readerIn = true;
  });
  Sleep(kSettleMs);
  EXPECT_FALSE(readerIn.load());
  EXPECT_FALSE(lock.TryLock());
  writerDone = true;
  writer.join();
  reader.join();
  EXPECT_TRUE(readerIn.load());
}

TEST(RwLock, FailedTryLockGivesBackWhatItTook) {
  Os::RwLock lock(10);
  lock.ReadLock();
  EXPECT_FALSE(lock.TryLock());
  // Exactly nine slots are still free.
  for (int i = 0; i < 9; ++i) lock.ReadLock();
  std::atomic<bool> extraIn{false};
  std::thread extra([&] {
    lock.ReadLock();
    extraIn = true;
    lock.ReadUnlock();
  });
  Sleep(kSettleMs);
  EXPECT_FALSE(extraIn.load());
  for (int i = 0; i < 10; ++i) lock.ReadUnlock();
  extra.join();
  EXPECT_TRUE(lock.TryLock());
  lock.Unlock();
}

TEST(RwLock, WritersExcludeEachOther) {
  Os::RwLock lock(4);
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        Os::WriteKey key(lock);
        int seen = counter;
        if (i % 50 == 0) Sleep(0);
        counter = seen + 1;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(2000, counter);
}

TEST(Semaphore, GetWithZeroTimeOutAndAUnitReturnedByAnotherThread) {
  Os::Semaphore semaphore(0, nullptr);
  // A wait would take the 5 s below; a busy machine takes far less.
  DWORD before = GetTickCount();
  EXPECT_FALSE(semaphore.Get(0));
  EXPECT_FALSE(semaphore.TryLock());
  EXPECT_LT(GetTickCount() - before, 2500u);

  std::thread returner([&] {
    Sleep(20);
    semaphore.Put();
  });
  EXPECT_TRUE(semaphore.Get(5000));
  returner.join();
  EXPECT_FALSE(semaphore.Get(10));
}

TEST(Semaphore, NamedSemaphoreSharesUnitsByName) {
  Os::Semaphore first(1, "ixa-framework-test-shared");
  Os::Semaphore second(0, "ixa-framework-test-shared");
  EXPECT_TRUE(second.TryLock());
  EXPECT_FALSE(first.TryLock());
  first.Put();
  EXPECT_TRUE(second.Get(0));
}

TEST(CriticalSection, TryLockIsTrueWhenTakenAndSectionIsRecursive) {
  Os::CriticalSection section;
  ASSERT_TRUE(section.TryLock());
  {
    Os::Key again(section);  // the holder may lock again
  }
  std::atomic<int> otherResult{-1};
  std::thread other([&] {
    bool taken = section.TryLock();
    otherResult = taken;
    if (taken) section.Unlock();
  });
  other.join();
  EXPECT_EQ(0, otherResult.load());
  section.Unlock();
  std::thread later([&] {
    otherResult = section.TryLock();
    section.Unlock();
  });
  later.join();
  EXPECT_EQ(1, otherResult.load());
}

TEST(TlsKey, EachThreadSeesItsOwnSlotAndNullBeforeSet) {
  Os::TlsKey key;
  int mine = 0;
  EXPECT_EQ(nullptr, key.Get());
  key.Set(&mine);
  void* seenElsewhere = &mine;
  int theirs = 0;
  void* theirsAfterSet = nullptr;
  std::thread other([&] {
    seenElsewhere = key.Get();
    key.Set(&theirs);
    theirsAfterSet = key.Get();
  });
  other.join();
  EXPECT_EQ(nullptr, seenElsewhere);
  EXPECT_EQ(&theirs, theirsAfterSet);
  EXPECT_EQ(&mine, key.Get());
}

class CountingHandler : public Os::PseudoBlockHandler {
 public:
  void BlockEnded() override { ++ended; }
  int ended = 0;
};

TEST(PseudoBlock, OnlyTheOutermostEndNotifies) {
  CountingHandler handler;
  Os::PseudoBlockHandler* previous = Os::PseudoBlockEvent::SetHandler(&handler);
  {
    Os::PseudoBlockWait outer;
    { Os::PseudoBlockWait inner; }
    EXPECT_EQ(0, handler.ended);
  }
  EXPECT_EQ(1, handler.ended);
  Os::PseudoBlockEvent::SetHandler(previous);
}

// Records what it closes and fails every close, as a stale handle would.
struct RecordedTraits {
  using Type = int;
  static std::vector<int> closed;
  static Type Invalid() { return 0; }
  static bool IsValid(Type value) { return value != 0; }
  static void Close(Type value) {
    closed.push_back(value);
    SetLastError(ERROR_INVALID_HANDLE);
  }
};
std::vector<int> RecordedTraits::closed;

TEST(UniqueResource, ClosesEachValueOnceAndKeepsTheLastError) {
  RecordedTraits::closed.clear();
  {
    Os::UniqueResource<RecordedTraits> first(1);
    Os::UniqueResource<RecordedTraits> second(std::move(first));
    EXPECT_FALSE(first);
    first = Os::UniqueResource<RecordedTraits>(2);
    SetLastError(ERROR_FILE_NOT_FOUND);
    first = std::move(second);  // closes 2
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Os::UniqueResource<RecordedTraits> given(3);
    EXPECT_EQ(given.release(), 3);
  }
  EXPECT_EQ(RecordedTraits::closed, (std::vector<int>{2, 1}));
}

}  // namespace
