#include "loader/status_window_host.h"

#include "loader/detection.h"
#include "loader/loader_state.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "ui/config_dialog.h"

namespace Ixa {

namespace {

// What the window asks of the loader.
class LoaderWindowOwner final : public Ui::StatusWindowOwner {
 public:
  void RestartDetection() override { Ixa::RestartDetection(); }
  void ChangeUserNumber(int32_t userNumber) override { Ixa::ChangeUserNumber(userNumber); }
  void ReresolvePatchPorts() override { Ixa::ReresolvePatchPorts(); }
  void WindowShown() override {
    SetLoaderEvent(kDialogDisplayed);
    SetEvent(Loader().windowStarted.get());
  }
  void WindowClosedByUser() override { ResetLoaderEvent(kDialogDisplayed); }
};

LoaderWindowOwner gWindowOwner;

unsigned __stdcall StatusWindowProcedure(void*) {
  LoaderState& state = Loader();
  CIxaConfigDialog& window = *state.statusWindow;
  // Here, not at load: the settings and the icons are not for the loader lock.
  window.PrepareRun();
  ResetLoaderEvent(kDialogClosed);
  window.DoModal();
  window.EndRun();
  SetLoaderEvent(kDialogClosed);
  SetEvent(state.windowStarted.get());  // a window that could not be made holds no worker
  return 0;
}

}  // namespace

void OpenStatusWindow() {
  LoaderState& state = Loader();
  if (state.statusWindow) return;
  state.statusWindow = std::make_unique<CIxaConfigDialog>(gWindowOwner);
  state.statusWindowThread = std::make_unique<LibraryThread>(&StatusWindowProcedure);
}

void CloseStatusWindow() {
  LoaderState& state = Loader();
  if (!state.statusWindow) return;
  // Only the window's own thread may end its dialog; this also covers a
  // window that its thread has not created yet.
  if (!state.windowClosed.exchange(true)) state.statusWindow->RequestEnd(1);
  if (state.statusWindowThread && !state.statusWindowThread->IsCallingThread()) {
    state.statusWindowThread->Join();
    state.statusWindowThread.reset();
  }
}

}  // namespace Ixa
