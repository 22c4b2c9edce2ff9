#include "loader/status_window_host.h"

#include "loader/loader_state.h"
#include "ui/config_dialog.h"
#include "ui/ui_module.h"

namespace {

unsigned __stdcall StatusWindowProcedure(void*) {
  LoaderState& state = Loader();
  if (state.statusWindow) {
    ResetLoaderEvent(kDialogClosed);
    state.statusWindow->DoModal();
    SetLoaderEvent(kDialogClosed);
  }
  return 0;
}

// Only the window's own thread may end its dialog; this also covers a
// window that its thread has not created yet.
void RequestWindowEnd() { Loader().statusWindow->RequestEnd(1); }

}  // namespace

void OpenStatusWindow() {
  LoaderState& state = Loader();
  if (state.statusWindow) return;
  state.statusWindow = std::make_unique<CIxaConfigDialog>(nullptr);
  state.statusWindowThread.Start(&StatusWindowProcedure);
}

void CloseStatusWindow() {
  LoaderState& state = Loader();
  if (!state.statusWindow) return;
  RequestWindowEnd();
  state.statusWindowThread.Join();
  state.statusWindow.reset();
}

bool CloseStatusWindowForUnload(DWORD timeoutMs) {
  LoaderState& state = Loader();
  if (!state.statusWindow) return true;
  RequestWindowEnd();
  bool ended = state.statusWindowThread.EndForUnload(timeoutMs);
  // A window still running keeps its object; the library then stays mapped.
  if (ended) state.statusWindow.reset();
  return ended;
}
