#include "loader/instance.h"

#include <winsock2.h>

#include <shellapi.h>

#include "loader/detection.h"
#include "loader/loader_state.h"
#include "loader/status_callback.h"
#include "loader/status_window_host.h"
#include "ui/config_dialog.h"

namespace {

// Threads that can end do so within milliseconds: a loader thread in a step
// that could wait for the loader lock holds the library (LibraryHold), so no
// unload runs meanwhile.
constexpr DWORD kUnloadWaitMs = 3000;

// Keeps this library mapped for the rest of the process. The last resort,
// for what no hold covers (a host thread still inside a control export as
// its host unloads); that thread then finishes once the loader lock is free.
void PinThisLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinThisLibrary), &self);
}

}  // namespace

bool InitInstance() {
  // An unload may leave the window's thread inside the shell (the tray
  // icon's removal), so the shell must outlive this library.
  HMODULE shell = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&Shell_NotifyIconA)), &shell);
  WSADATA wsaData;
  WSAStartup(MAKEWORD(2, 0), &wsaData);
  LoaderState& state = Loader();
  for (int e = 0; e < kEventCount; ++e) {
    state.events[e].reset(CreateEventA(nullptr, FALSE, FALSE, kLoaderEventNames[e]));
  }
  OpenStatusWindow();
  return true;
}

void ExitInstance(bool processExit) {
  LoaderState& state = Loader();
  if (processExit) {
    // The other threads have been ended by the system; nothing to wait for.
    WSACleanup();
    return;
  }
  // The system holds its loader lock here, so no thread can exit while we
  // wait: threads are asked to finish and then parked (see LoaderThread).
  if (!StopControlForUnload(kUnloadWaitMs)) {
    // A loader thread still holds the workers and the window.
    PinThisLibrary();
    return;
  }
  bool ended = true;
  SetLoaderEvent(kShuttingDown);
  if (state.worker) ended &= state.worker->EndForUnload(kUnloadWaitMs);
  for (const std::shared_ptr<LoaderThread>& stopped : state.stoppedWorkers) {
    ended &= stopped->EndForUnload(kUnloadWaitMs);
  }
  ended &= CloseStatusWindowForUnload(kUnloadWaitMs);
  // A module left running keeps reporting: from now on into memory of our
  // own that returns at once, never into this library's code.
  ended &= RetireModuleStatusCallback(kUnloadWaitMs);
  ResetLoaderEvent(kShuttingDown);
  WSACleanup();
  if (!ended) {
    // The lingering thread still needs the code, the state and the events.
    PinThisLibrary();
    return;
  }
  DestroyLoaderState();
}
