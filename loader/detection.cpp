#include "loader/detection.h"

#include <windows.h>

#include "loader/connection_worker.h"
#include "loader/loader_state.h"
#include "loader/processor_table.h"
#include "loader/status_report.h"
#include "loader/status_window_host.h"
#include "ui/ui_module.h"

void StartDetection(int32_t launchOption) {
  LoaderState& state = Loader();
  if (!state.statusWindow) Ui::ThrowInvalidArgument();
  state.launchOption.store(launchOption);
  if (state.detecting.load() || state.module.load() != nullptr) return;
  state.detecting.store(true);
  state.workerThread.Start(&ConnectionWorker);
}

void StopConnectionWorker() {
  LoaderState& state = Loader();
  // First: the worker's discovery loop ends when it sees the flag cleared.
  state.detecting.store(false);
  state.workerThread.Join();
}

void ShutdownLoader(bool closeWindow) {
  LoaderState& state = Loader();
  if (RunningCallbackFn callback = state.runningCallback.load()) callback(0);
  SetLoaderEvent(kShuttingDown);
  ReportStatus(0, "Shutting down connection...");
  StopConnectionWorker();
  if (ShutdownModuleFn shutdownModule = state.table.ShutdownOB.load()) shutdownModule();
  if (HMODULE module = state.module.exchange(nullptr)) FreeLibrary(module);
  UnbindProcessorTable();
  if (!state.savedImagePath.empty()) DeleteFileA(state.savedImagePath.c_str());
  if (closeWindow) CloseStatusWindow();
  ResetLoaderEvent(kShuttingDown);
}

void RestartDetection(int32_t port) {
  if (port == 0xFFFF) return;
  ShutdownLoader(false);
  StartDetection(Loader().launchOption.load());
}
