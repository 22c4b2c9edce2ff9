#include "loader/loader_thread.h"

#include "os/ospriority.h"

namespace {
// How long a thread may take from the system's start-up code into ours.
constexpr DWORD kEntryGraceMs = 200;
}  // namespace

LoaderThread::LoaderThread()
    : entered_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      parked_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

LoaderThread::~LoaderThread() {
  // Process exit: the other threads are gone already; waiting is pointless.
  if (thread_) thread_->Abandon();
}

void LoaderThread::Start(Os::Thread::Procedure procedure) {
  Join();
  ResetEvent(entered_.get());
  ResetEvent(parked_.get());
  ResetEvent(release_.get());
  procedure_ = procedure;
  thread_ = std::make_unique<Os::Thread>(&Run, this, nullptr, Os::Default, 0);
}

unsigned __stdcall LoaderThread::Run(void* argument) {
  auto* self = static_cast<LoaderThread*>(argument);
  SetEvent(self->entered_.get());
  self->procedure_(nullptr);
  self->Park();
  return 0;
}

void LoaderThread::Join() {
  if (!thread_) return;
  SetEvent(release_.get());
  thread_.reset();
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
