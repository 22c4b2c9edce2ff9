#include "loader/loader_thread.h"

#include <atomic>

#include "os/osboundary.h"
#include "os/ospriority.h"

namespace {
// How long a thread may take from the system's start-up code into ours.
constexpr DWORD kEntryGraceMs = 200;

// Threads that end after the unload could not be parked in time.
constexpr DWORD kUnloadParkMs = 3000;

thread_local bool tOnLoaderThread = false;
std::atomic<bool> gUnloading{false};
}  // namespace

LoaderThread::LoaderThread(Os::Thread::Procedure procedure)
    : procedure_(procedure),
      entered_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      parked_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::shared_ptr<LoaderThread> LoaderThread::Start(Os::Thread::Procedure procedure) {
  std::shared_ptr<LoaderThread> record(new LoaderThread(procedure));
  record->thread_ = std::make_unique<Os::Thread>(&Run, record.get(), nullptr, Os::Default, 0);
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
}

void LoaderThread::BeginUnload() { gUnloading.store(true); }

bool LoaderThread::IsCallingThread() const {
  return thread_ && thread_->GetId() == Os::Thread::CurrentThreadId();
}

bool LoaderThread::OnLoaderThread() { return tOnLoaderThread; }

void LoaderThread::WaitUntilDone() const {
  if (IsCallingThread()) return;
  WaitForSingleObject(parked_.get(), INFINITE);
}

unsigned __stdcall LoaderThread::Run(void* argument) {
  auto* self = static_cast<LoaderThread*>(argument);
  tOnLoaderThread = true;
  SetEvent(self->entered_.get());
  Os::Contain("a loader thread", [&] { self->procedure_(nullptr); });
  self->Park();
  return 0;
}

void LoaderThread::Park() {
  // Signal and wait in one system call, so there is no moment between the
  // two at which this thread runs our code after signalling.
  DWORD result = SignalObjectAndWait(parked_.get(), release_.get(), INFINITE, TRUE);
  while (result == WAIT_IO_COMPLETION) {
    result = WaitForSingleObjectEx(release_.get(), INFINITE, TRUE);
  }
}

bool LoaderThread::EndForUnload(DWORD timeoutMs) {
  if (!thread_) return true;
  if (WaitForSingleObject(entered_.get(), kEntryGraceMs) != WAIT_OBJECT_0) {
    TerminateThread(thread_->NativeHandle(), 0);
    thread_->Abandon();
    thread_.reset();
    return true;
  }
  bool parked = WaitForSingleObject(parked_.get(), timeoutMs) == WAIT_OBJECT_0;
  if (parked) {
    // ExitThread has the signature of an APC routine; it runs inside the
    // thread's alertable wait and never returns.
    QueueUserAPC(reinterpret_cast<PAPCFUNC>(reinterpret_cast<void*>(&ExitThread)),
                 thread_->NativeHandle(), 0);
  } else {
    SetEvent(release_.get());
  }
  thread_->Abandon();
  thread_.reset();
  return parked;
}
