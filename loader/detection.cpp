#include "loader/detection.h"

#include <deque>

#include <windows.h>

#include "loader/connection_worker.h"
#include "loader/image_file.h"
#include "loader/loader_state.h"
#include "loader/module_gate.h"
#include "loader/processor_table.h"
#include "loader/status_report.h"
#include "loader/status_window_host.h"
#include "os/osboundary.h"
#include "os/oslock.h"
#include "ui/ui_module.h"

namespace Ixa {

namespace {

// A module call still inside after this long is hung; the module then
// stays loaded rather than being freed under it.
constexpr DWORD kModuleCallsWaitMs = 5000;

enum class Request { Start, Shutdown, ShutdownAndClose };

SRWLOCK gLock = SRWLOCK_INIT;
CONDITION_VARIABLE gBatonFree = CONDITION_VARIABLE_INIT;
DWORD gHolder = 0;
int gDepth = 0;
std::deque<Request> gLeftRequests;

void Carry(Request request);

// StartDetection, ShutdownLoader and RestartDetection take turns: each runs
// holding the baton. The baton is no lock held across waits: the short
// lock guards only its hand-over. Its holder waits for the worker and the
// status window thread and calls host and module code, from which the same
// thread may take the baton again (the running callback calling
// ShutdownOB). A thread of the library never waits for the baton, since the
// holder may be waiting for that thread: it leaves its request for the
// holder to carry out before letting go.
class Baton {
 public:
  explicit Baton(Request request) {
    const DWORD self = GetCurrentThreadId();
    Os::ShortLock lock(gLock);
    while (gHolder != 0 && gHolder != self) {
      if (LibraryThread::OnLibraryThread()) {
        gLeftRequests.push_back(request);
        return;
      }
      SleepConditionVariableSRW(&gBatonFree, &gLock, INFINITE, 0);
    }
    gHolder = self;
    ++gDepth;
    held_ = true;
  }

  ~Baton() {
    if (!held_) return;
    for (;;) {
      Request next;
      {
        Os::ShortLock lock(gLock);
        if (gDepth > 1 || gLeftRequests.empty()) {
          if (--gDepth == 0) {
            gHolder = 0;
            WakeAllConditionVariable(&gBatonFree);
          }
          return;
        }
        next = gLeftRequests.front();
        gLeftRequests.pop_front();
      }
      Os::Contain("a control request left by a library thread", [&] { Carry(next); });
    }
  }

  Baton(const Baton&) = delete;
  Baton& operator=(const Baton&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_ = false;
};

void CallRunningCallback(int32_t running) {
  // Host code: whatever it throws stays with the host's own call.
  if (RunningCallbackFn callback = Loader().runningCallback.load()) {
    Os::Contain("the running callback", [&] { callback(running); });
  }
}

// Joins workers that stopped themselves, except the calling one.
void JoinStoppedWorkers() {
  std::vector<std::unique_ptr<LibraryThread>>& stopped = Loader().stoppedWorkers;
  for (auto it = stopped.begin(); it != stopped.end();) {
    if ((*it)->IsCallingThread()) {
      ++it;
    } else {
      (*it)->Join();
      it = stopped.erase(it);
    }
  }
}

// Joins the held worker, or keeps it aside when the calling thread is that
// worker (inside its own running callback; it ends right after).
void LetGoOfWorker() {
  LoaderState& state = Loader();
  std::unique_ptr<LibraryThread> worker = std::move(state.worker);
  if (!worker) return;
  if (worker->IsCallingThread()) {
    state.stoppedWorkers.push_back(std::move(worker));
  } else {
    worker->Join();
  }
}

void StartSteps() {
  LoaderState& state = Loader();
  if (state.closing.load()) return;
  if (state.windowClosed.load()) Ui::ThrowInvalidArgument();
  if (state.detecting.load() || state.module.load() != nullptr) return;
  JoinStoppedWorkers();
  // A worker is still held only when a shutdown has just told it to stop.
  LetGoOfWorker();

  state.detecting.store(true);
  ResetEvent(state.stopDetection.get());
  try {
    state.worker = std::make_unique<LibraryThread>(&ConnectionWorker);
  } catch (...) {
    state.detecting.store(false);
    throw;
  }
}

// Host threads are kept out of the module before it tears itself down: a
// buffer it frees in its ShutdownOB must not be handed out meanwhile.
void ShutdownModule() {
  const ShutdownModuleFn shutdown = Loader().table.ShutdownOB.load();
  const ModuleCallCount& calls = UnbindProcessorTable();
  ReleaseModule(shutdown, calls);
}

void ShutdownSteps(bool closeWindow) {
  SetLoaderEvent(kShuttingDown);
  ReportStatus(StatusCode::Info, "Shutting down connection...");
  StopConnectionWorker();
  ShutdownModule();
  RemoveImageFile();
  if (closeWindow) {
    CloseStatusWindow();
    JoinStoppedWorkers();
  }
  ResetLoaderEvent(kShuttingDown);
}

void Carry(Request request) {
  switch (request) {
    case Request::Start:
      StartSteps();
      break;
    case Request::Shutdown:
      ShutdownSteps(false);
      break;
    case Request::ShutdownAndClose:
      ShutdownSteps(true);
      break;
  }
}

}  // namespace

void StartDetection(int32_t launchOption) {
  LoaderState& state = Loader();
  if (state.windowClosed.load()) Ui::ThrowInvalidArgument();
  state.launchOption.store(launchOption);
  Baton baton(Request::Start);
  if (baton.Held()) StartSteps();
}

namespace {

// The worker's waits end when they see the flag cleared, and a worker
// that sees it reports no running.
void MarkDetectionStopping() {
  LoaderState& state = Loader();
  state.detecting.store(false);
  SetEvent(state.stopDetection.get());
}

}  // namespace

void StopConnectionWorker() {
  MarkDetectionStopping();
  LetGoOfWorker();
}

void ReleaseModule(ShutdownModuleFn shutdown, const ModuleCallCount& calls) {
  LoaderState& state = Loader();
  const bool idle = state.module.load() == nullptr || WaitForModuleCalls(calls, kModuleCallsWaitMs);
  if (shutdown != nullptr) CallModuleGuarded([&] { shutdown(); });
  if (!idle) {
    // Freeing it now would pull the code from under a host thread. It stays
    // loaded for good, and so does this library, which its threads may
    // still report into.
    state.module.store(nullptr);
    state.heldForModule.release();
    state.socketsForModule.release();
    return;
  }
  if (HMODULE module = state.module.exchange(nullptr)) FreeLibrary(module);
  state.socketsForModule.reset();
  state.heldForModule.reset();
}

void ShutdownLoader(bool closeWindow) {
  LoaderState& state = Loader();
  // First of all: nothing started from here on (in the running callback,
  // say) would outlive this shutdown.
  if (closeWindow) state.closing.store(true);
  // Before the host hears 0: a worker that has just seen the loaded report
  // must not tell it 1 afterwards.
  MarkDetectionStopping();
  CallRunningCallback(0);
  Baton baton(closeWindow ? Request::ShutdownAndClose : Request::Shutdown);
  if (baton.Held()) ShutdownSteps(closeWindow);
}

void RestartDetection() {
  ShutdownLoader(false);
  // The running callback may have closed the library meanwhile.
  if (!Loader().closing.load()) StartDetection(Loader().launchOption.load());
}

}  // namespace Ixa
