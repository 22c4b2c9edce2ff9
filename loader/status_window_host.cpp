#include "loader/status_window_host.h"

#include "loader/loader_state.h"
#include "ui/config_dialog.h"
#include "ui/ui_module.h"

namespace {

// How long an unload lets the window close by itself before abandoning its
// thread where the system keeps it; a handler already running (the Patch
// dialog saving its rows) finishes either way.
constexpr DWORD kOrderlyCloseMs = 1000;

unsigned __stdcall StatusWindowProcedure(void*) {
  LoaderState& state = Loader();
  if (state.statusWindow) {
    ResetLoaderEvent(kDialogClosed);
    state.statusWindow->DoModal();
    state.statusWindow->RemoveTrayIcon();
    SetLoaderEvent(kDialogClosed);
  }
  SetEvent(state.windowStarted.get());  // a window that could not be made holds no worker
  return 0;
}

// Only the window's own thread may end its dialog; this also covers a
// window that its thread has not created yet.
void RequestWindowEnd() { Loader().statusWindow->RequestEnd(1); }

}  // namespace

void OpenStatusWindow() {
  LoaderState& state = Loader();
  if (state.statusWindow && !state.windowClosed.load()) return;
  state.statusWindow = std::make_unique<CIxaConfigDialog>(nullptr);
  state.windowClosed.store(false);
  ResetEvent(state.windowStarted.get());
  state.statusWindowThread = LoaderThread::Start(&StatusWindowProcedure);
}

void CloseStatusWindow() {
  LoaderState& state = Loader();
  if (!state.statusWindow) return;
  if (!state.windowClosed.exchange(true)) RequestWindowEnd();
  // On the window's own thread (its Apply or Reconnect), the dialog ends
  // once the handler returns; the thread is joined later.
  if (state.statusWindowThread && !state.statusWindowThread->IsCallingThread()) {
    state.statusWindowThread.reset();
  }
}

bool CloseStatusWindowForUnload(DWORD timeoutMs) {
  LoaderState& state = Loader();
  if (!state.statusWindow) return true;
  state.windowClosed.store(true);
  const bool onWindowThread = state.statusWindowThread && state.statusWindowThread->IsCallingThread();
  if (onWindowThread) {
    // The unload runs inside one of the window's handlers, as a hold ends;
    // the thread ends right after, never back in its loop (the icon goes
    // as it ends).
    state.statusWindow->DestroyNow();
    SetLoaderEvent(kDialogClosed);
  } else {
    // The window closes in its own time; a thread the system keeps waiting
    // (for the loader lock this unload holds) is abandoned in its loop
    // instead, and its windows and icon go as it ends.
    RequestWindowEnd();
  }
  if (!state.statusWindowThread) return true;
  // A window still running keeps its object.
  if (!state.statusWindowThread->EndForUnload(timeoutMs, kOrderlyCloseMs)) return false;
  // An abandoned loop ends without the window's procedure, which says so.
  if (!onWindowThread && !state.statusWindowThread->Done()) SetLoaderEvent(kDialogClosed);
  state.statusWindowThread.reset();
  return true;
}
