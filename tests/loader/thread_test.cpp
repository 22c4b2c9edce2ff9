#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "loader/attempt_failure.h"
#include "loader/instance.h"
#include "loader/library_thread.h"
#include "loader/loader_state.h"
#include "os/osthreadname.h"
#include "os/win32/osthread.h"

using namespace Ixa;

namespace {

struct Observed {
  std::atomic<int> priority{-100};
  std::wstring name;
  uint32_t selfId = 0;  // as the thread reads it
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> returned{false};
};

unsigned __stdcall ObserveSelf(void* argument) {
  auto* observed = static_cast<Observed*>(argument);
  observed->priority = GetThreadPriority(GetCurrentThread());
  observed->name = Os::GetThreadName(GetCurrentThreadId());
  observed->selfId = Os::Thread::CurrentThreadId();
  WaitForSingleObject(observed->release, INFINITE);
  observed->returned = true;
  return 0;
}

TEST(Thread, NameIsRegisteredBeforeTheThreadRuns) {
  Observed observed;
  SetEvent(observed.release);
  { Os::Thread thread(&ObserveSelf, &observed, "worker", Os::Default, 0); }
  EXPECT_EQ(observed.name, L"worker");
}

TEST(Thread, WithoutANameTheIdInDecimalBecomesTheName) {
  Observed observed;
  SetEvent(observed.release);
  uint32_t id;
  {
    Os::Thread thread(&ObserveSelf, &observed, nullptr, Os::Default, 0);
    id = thread.GetId();
  }
  EXPECT_EQ(observed.name, std::to_wstring(id));
  EXPECT_EQ(observed.selfId, id);
  EXPECT_EQ(Os::GetThreadName(4242), L"4242");
  EXPECT_EQ(Os::GetThreadName(4242), L"4242");
}

TEST(Thread, PriorityClassesMapToThreadPriorities) {
  const struct {
    int priorityClass;
    int expected;
  } cases[] = {{Os::Low, THREAD_PRIORITY_BELOW_NORMAL},  {Os::Normal, THREAD_PRIORITY_NORMAL},
               {Os::High, THREAD_PRIORITY_ABOVE_NORMAL}, {Os::RealTime, THREAD_PRIORITY_TIME_CRITICAL},
               {Os::Default, THREAD_PRIORITY_NORMAL},    {5, THREAD_PRIORITY_NORMAL}};
  for (const auto& c : cases) {
    Observed observed;
    SetEvent(observed.release);
    { Os::Thread thread(&ObserveSelf, &observed, nullptr, c.priorityClass, 0); }
    EXPECT_EQ(observed.priority.load(), c.expected) << "class " << c.priorityClass;
  }
}

TEST(Thread, DestructionWaitsForTheProcedureAndJoinIsRepeatable) {
  Observed observed;
  auto thread = std::make_unique<Os::Thread>(&ObserveSelf, &observed, "joined", Os::Default, 0);
  uint32_t id = thread->GetId();
  EXPECT_NE(id, 0u);
  SetEvent(observed.release);
  EXPECT_TRUE(thread->Join());
  EXPECT_TRUE(observed.returned);
  EXPECT_TRUE(thread->Join());
  // Joining removed the name: the id now reads as digits.
  EXPECT_EQ(Os::GetThreadName(id), std::to_wstring(id));

  Observed slow;
  std::thread releaser([&] {
    Sleep(100);
    SetEvent(slow.release);
  });
  { Os::Thread blocking(&ObserveSelf, &slow, nullptr, Os::Default, 0); }
  EXPECT_TRUE(slow.returned) << "the destructor returned before the procedure did";
  releaser.join();
}

std::atomic<int> gSeenOnLibraryThread{-1};

unsigned __stdcall NoteWhereItRuns(void*) {
  Sleep(50);
  gSeenOnLibraryThread = LibraryThread::OnLibraryThread() ? 1 : 0;
  return 0;
}

// A thread of the library runs its procedure knowing it is one, and Join
// waits for it; the host's threads are not.
TEST(Thread, ALibraryThreadRunsItsProcedureAndIsJoined) {
  LibraryThread thread(&NoteWhereItRuns);
  EXPECT_FALSE(thread.IsCallingThread());
  thread.Join();
  EXPECT_EQ(gSeenOnLibraryThread.load(), 1);
  EXPECT_FALSE(LibraryThread::OnLibraryThread());
}

// A load whose own events could not all be made fails before its window's
// thread starts, and the unload that follows copes with what was built.
TEST(Instance, ALoadWithoutAnEventOfItsOwnFailsBeforeItsWindowThread) {
  Loader().stopDetection.reset();
  EXPECT_FALSE(InitInstance());
  EXPECT_EQ(Loader().statusWindowThread, nullptr);
  ExitInstance(false);
  EXPECT_TRUE(Loader().stopDetection) << "a new load starts afresh";
}

// The waits before the worker tries again: doubling from 5 s up to 60 s.
TEST(RetrySchedule, DoublesFromFiveSecondsUpToAMinute) {
  RetrySchedule schedule;
  for (unsigned expected : {5000u, 10000u, 20000u, 40000u, 60000u, 60000u}) {
    EXPECT_EQ(schedule.NextDelayMs(), expected);
  }
}

}  // namespace
