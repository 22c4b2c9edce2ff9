#include "loader/loader_thread.h"

#include <atomic>

#include "os/osboundary.h"
#include "os/osos.h"
#include "os/ospriority.h"

namespace {
// How often an unload waiting for a thread looks whether it went outside.
constexpr DWORD kOutsideCheckMs = 5;

// Threads that end after the unload could not be parked in time.
constexpr DWORD kUnloadParkMs = 3000;

// The calling loader thread's start record; null on other threads.
thread_local ThreadStart* tThreadStart = nullptr;
// Holds the calling thread has open; the reference is taken by the first.
thread_local int tHolds = 0;
std::atomic<bool> gUnloading{false};

void AnchorInThisLibrary() {}
}  // namespace

LibraryHold::LibraryHold() {
  ThreadStart* self = tThreadStart;
  if (self == nullptr) return;
  held_ = true;
  if (tHolds++ > 0) return;
  self->heldModule = nullptr;
  auto* thread = static_cast<LoaderThread*>(self->argument);
  thread->takingReference_.store(true);
  CallOutsideLibrary(&GetModuleHandleExW, GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&AnchorInThisLibrary)), &self->heldModule);
  thread->takingReference_.store(false);
}

void LibraryHold::Release() {
  if (!held_) return;
  held_ = false;
  if (--tHolds > 0) return;
  ThreadStart* self = tThreadStart;
  HMODULE module = self->heldModule;
  if (module == nullptr) return;
  self->heldModule = nullptr;
  // When the host has let go meanwhile, the unload runs in here, and the
  // thread ends as this returns.
  CallOutsideLibrary(&FreeLibrary, module);
}

LoaderThread::LoaderThread(Os::Thread::Procedure procedure)
    : procedure_(procedure),
      parked_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::shared_ptr<LoaderThread> LoaderThread::Start(Os::Thread::Procedure procedure) {
  std::shared_ptr<LoaderThread> record(new LoaderThread(procedure));
  record->start_ = ClaimThreadStart(&Run, record.get());
  if (record->start_ == nullptr) Os::ThrowError(ERROR_NOT_ENOUGH_MEMORY);
  try {
    record->thread_ = std::make_unique<Os::Thread>(Lingering()->threadStart, record->start_, nullptr, Os::Default, 0);
  } catch (...) {
    ReleaseThreadStart(record->start_);
    record->start_ = nullptr;
    throw;
  }
  return record;
}

LoaderThread::~LoaderThread() {
  if (!thread_) return;  // ended for an unload
  if (gUnloading.load()) {
    // A released thread would return into code about to be unmapped.
    EndForUnload(kUnloadParkMs);
    return;
  }
  SetEvent(release_.get());
  thread_.reset();
  ReleaseThreadStart(start_);
}

void LoaderThread::BeginUnload() { gUnloading.store(true); }

bool LoaderThread::IsCallingThread() const {
  return thread_ && thread_->GetId() == Os::Thread::CurrentThreadId();
}

bool LoaderThread::OnLoaderThread() { return tThreadStart != nullptr; }

bool LoaderThread::Done() const { return WaitForSingleObject(parked_.get(), 0) == WAIT_OBJECT_0; }

unsigned __stdcall LoaderThread::Run(void* argument) {
  auto* self = static_cast<LoaderThread*>(argument);
  tThreadStart = self->start_;
  self->start_->threadId = GetCurrentThreadId();
  Os::Contain("a loader thread", [&] { self->procedure_(nullptr); });
  self->start_->threadId = 0;  // its windows are gone
  self->Park();
  return 0;
}

void LoaderThread::Park() {
  SetEvent(parked_.get());
  // The wait is made outside the library and takes no APC: an unload
  // abandons the thread in it, and it never runs our code again.
  CallOutsideLibrary(&WaitForSingleObject, release_.get(), INFINITE);
}

uintptr_t CallOutsideWords(const void* fn, const uintptr_t (&words)[5]) {
  // Elsewhere, and inside an outside call already (the unload running on
  // this thread), a record of its own that nobody abandons.
  ThreadStart unwatched{kThreadEntered, nullptr, nullptr, reinterpret_cast<void*>(&ExitThread), nullptr, nullptr, nullptr, {0, 0}, 0};
  ThreadStart* self = tThreadStart != nullptr && tThreadStart->state == kThreadEntered ? tThreadStart : &unwatched;
  return Lingering()->callOutside(self, fn, words[0], words[1], words[2], words[3], words[4]);
}

void* GatedCallbackCode(void* procedure, void* fallback) {
  const LingeringCode* code = Lingering();
  if (code == nullptr) return procedure;
  for (size_t i = 0; i < kCallbackGates; ++i) {
    CallbackGateData& gate = code->gates[i];
    void* seen = InterlockedCompareExchangePointer(&gate.target, procedure, nullptr);
    if (seen == nullptr) {
      gate.fallback = fallback != nullptr ? fallback : code->returnZero;
      return code->gateCode[i];
    }
    if (seen == procedure) return code->gateCode[i];
  }
  return procedure;  // more procedures than gates: a fault of ours, caught by the tests
}

void CallAsThreadEnds(const void* fn, uintptr_t a, uintptr_t b) {
  ThreadStart* self = tThreadStart;
  if (self == nullptr) return;
  self->lastArgs[0] = a;
  self->lastArgs[1] = b;
  self->lastCall = const_cast<void*>(fn);
}

bool LoaderThread::EndForUnload(DWORD timeoutMs, DWORD orderlyMs) {
  if (!thread_) return true;
  if (orderlyMs > 0 && !IsCallingThread()) AwaitOrderlyEnd(orderlyMs);
  const bool ended = AbandonForUnload(timeoutMs);
  // Ends the park wait: an abandoned thread then ends in the lingering
  // code; one that did not park in time returns by itself later.
  SetEvent(release_.get());
  thread_->Abandon();
  thread_.reset();
  return ended;
}

void LoaderThread::AwaitOrderlyEnd(DWORD orderlyMs) {
  // Not while it is not yet started or taking its reference: it then waits
  // for the loader lock this unload holds.
  const ULONGLONG start = GetTickCount64();
  while (InterlockedCompareExchange(&start_->state, kThreadWaiting, kThreadWaiting) != kThreadWaiting &&
         !takingReference_.load()) {
    if (WaitForSingleObject(parked_.get(), kOutsideCheckMs) == WAIT_OBJECT_0) return;
    if (GetTickCount64() - start >= orderlyMs) return;
  }
}

bool LoaderThread::AbandonForUnload(DWORD timeoutMs) {
  // On the thread itself, the unload runs inside its hold's release.
  if (IsCallingThread()) {
    InterlockedExchange(&start_->state, kThreadAbandoned);
    return true;
  }
  // Not started yet: it ends in the start code once the unload is over.
  if (InterlockedCompareExchange(&start_->state, kThreadAbandoned, kThreadWaiting) == kThreadWaiting) return true;
  // Parked, or inside a call outside the library, which it never comes
  // back from once abandoned. A parked thread waits in such a call; it is
  // abandoned there as soon as it has reached it. A system message loop
  // it may be in ends on WM_QUIT.
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (InterlockedCompareExchange(&start_->state, kThreadAbandoned, kThreadOutside) == kThreadOutside) {
      PostThreadMessageW(thread_->GetId(), WM_QUIT, 0, 0);
      return true;
    }
    if (GetTickCount64() - start >= timeoutMs) return false;
    // Signalled just before the thread enters its wait: look again at once.
    if (WaitForSingleObject(parked_.get(), kOutsideCheckMs) == WAIT_OBJECT_0) SwitchToThread();
  }
}
