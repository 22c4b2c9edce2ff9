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
// that could wait for the loader lock holds the library (LibraryHold), or
// makes it as a call outside the library, where the unload abandons it.
constexpr DWORD kUnloadWaitMs = 3000;

// An unload may leave a thread of ours behind inside these (the tray icon's
// removal, a window's loop ending), so they must outlive this library.
void PinSystemLibraryOf(const void* function) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(function), &module);
}

// No thread of ours may be left running our code by an unload; should one
// be (a fault of ours), it is said where a developer looks, and the state
// it uses is left in place rather than torn down under it.
void UnloadLeftThreadsRunning() {
  OutputDebugStringA("IxaLoader: unloaded with a thread of its own still running\n");
}

}  // namespace

bool InitInstance() {
  PinSystemLibraryOf(reinterpret_cast<const void*>(&Shell_NotifyIconA));
  PinSystemLibraryOf(reinterpret_cast<const void*>(&DialogBoxIndirectParamW));
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
    // Every holder of the baton holds the library too, so this is a fault
    // of ours; the holder still uses the workers and the window.
    UnloadLeftThreadsRunning();
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
    // Likewise: a thread got nowhere safe in time, and still uses the state.
    UnloadLeftThreadsRunning();
    return;
  }
  DestroyLoaderState();
}
