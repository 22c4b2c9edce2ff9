#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "loader/lingering_code.h"
#include "os/osthreadname.h"
#include "os/win32/osthread.h"

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
  } cases[] = {{Os::Low, THREAD_PRIORITY_BELOW_NORMAL},
               {Os::Normal, THREAD_PRIORITY_NORMAL},
               {Os::High, THREAD_PRIORITY_ABOVE_NORMAL},
               {Os::RealTime, THREAD_PRIORITY_TIME_CRITICAL},
               {Os::Default, THREAD_PRIORITY_NORMAL},
               {5, THREAD_PRIORITY_NORMAL}};
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

}  // namespace

namespace {

unsigned __stdcall ReturnSeven(void* argument) {
  static_cast<std::atomic<bool>*>(argument)->store(true);
  return 7;
}

// A loader thread starts through the lingering start code: it runs its
// procedure, or, abandoned by an unload before it ran, ends there at once.
TEST(Thread, TheLingeringStartRunsTheProcedureUnlessAbandonedFirst) {
  for (bool abandoned : {false, true}) {
    SCOPED_TRACE(abandoned ? "abandoned" : "entered");
    std::atomic<bool> ran{false};
    ThreadStart* start = ClaimThreadStart(&ReturnSeven, &ran);
    ASSERT_NE(start, nullptr);
    if (abandoned) start->state = kThreadAbandoned;
    HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(Lingering()->threadStart),
                                 start, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, abandoned ? 0u : 7u);
    EXPECT_EQ(ran.load(), !abandoned);
    EXPECT_EQ(start->state, abandoned ? kThreadAbandoned : kThreadEntered);
    ReleaseThreadStart(start);
  }
}

#if defined(__x86_64__)
// The forwarder's frame unwinds to its caller, so an exception raised below
// it (in a report) can be dispatched through it.
TEST(LingeringCode, TheForwarderFrameUnwindsToItsCaller) {
  const auto call = reinterpret_cast<DWORD64>(Lingering()->forwarder) + 20;  // past the prolog
  DWORD64 base = 0;
  PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(call, &base, nullptr);
  ASSERT_NE(entry, nullptr);
  DWORD64 stack[8] = {};
  stack[5] = 0x123456;  // the caller's return address, above the 40-byte frame
  CONTEXT context{};
  context.Rip = call;
  context.Rsp = reinterpret_cast<DWORD64>(&stack[0]);
  void* handlerData = nullptr;
  DWORD64 frame = 0;
  RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, call, entry, &context, &handlerData, &frame, nullptr);
  EXPECT_EQ(context.Rip, 0x123456u);
  EXPECT_EQ(context.Rsp, reinterpret_cast<DWORD64>(&stack[6]));
}
#endif

}  // namespace
