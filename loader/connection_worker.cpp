#include "loader/connection_worker.h"

#include <cstdio>

#include <winsock2.h>

#include "loader/attempt_failure.h"
#include "loader/console_discovery.h"
#include "loader/detection.h"
#include "loader/image_check.h"
#include "loader/image_file.h"
#include "loader/image_transfer.h"
#include "loader/library_thread.h"
#include "loader/loader_log.h"
#include "loader/loader_state.h"
#include "loader/module_gate.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "loader/socket_wait.h"
#include "loader/status_report.h"
#include "os/osboundary.h"
#include "os/win32/unique_socket.h"
#include "ui/config_dialog.h"
#include "ui/ui_module.h"

namespace Ixa {

namespace {

constexpr DWORD kLoadedWaitMs = 300000;
constexpr size_t kLoadErrorTextSize = 1024;

enum class AttemptEnd {
  Finished,             // success, or a quiet end (stopped, no socket, never loaded)
  FailurePath,          // the failing step has shown its text
  LaunchedFailurePath,  // the same, for a module that was launched and may run threads
};

void TakeFailurePath(bool launched) {
  const ShutdownModuleFn shutdown = launched ? Loader().table.ShutdownOB.load() : nullptr;
  const ModuleCallCount& calls = UnbindProcessorTable();
  ReportStatus(StatusCode::Status, "Unable to connect to Corvane");
  ReleaseModule(shutdown, calls);
}

// The module raised an exception it did not handle: the attempt fails like
// any other, and the user learns why.
void ReportModuleFault() { ReportStatus(StatusCode::Info, "Virtual DP DLL failed"); }

// One call into the module during the attempt; false (text shown) when the
// module faulted.
template <typename Entry, typename Call>
bool CallDuringAttempt(const std::atomic<Entry>& slot, Call&& call) {
  if (CallModuleEntry(Loader().table, slot, call)) return true;
  ReportModuleFault();
  return false;
}

bool LoadSavedImage() {
  LoaderState& state = Loader();
  const std::string& path = state.savedImagePath;
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ReportStatusFormat(StatusCode::Info, "Could not find Virtual DP DLL: %s", path.c_str());
    return false;
  }
  HMODULE module = LoadLibraryA(path.c_str());
  const DWORD error = GetLastError();
  state.module.store(module);
  if (module != nullptr) {
    // Its threads may report at any time until it is freed, and it may use
    // sockets of its own as long as it runs.
    state.heldForModule = HoldThisLibrary();
    state.socketsForModule = Os::StartSockets();
    return true;
  }
  if (error == ERROR_MOD_NOT_FOUND) {
    ReportStatus(StatusCode::Info, "Could not load one or more required DLL's");
  } else if (error == ERROR_BAD_EXE_FORMAT) {
    ReportStatus(StatusCode::Info, "Virtual DP DLL file corrupt");
  } else {
    char text[kLoadErrorTextSize];
    std::snprintf(text, sizeof(text), "Couldn't connect to DP: error code %i", static_cast<int>(error));
    ReportStatus(StatusCode::Info, text);
  }
  return false;
}

bool BindLoadedModule() {
  if (!BindProcessorTable(Loader().module.load())) {
    ReportStatus(StatusCode::Info, "Couldn't build table");
    return false;
  }
  LoaderVersionCheck version = CheckLoaderVersion();
  if (!version.answered) {
    ReportModuleFault();
    return false;
  }
  if (!version.accepted) {
    ReportStatusFormat(StatusCode::Info, "Loader version is old (need %.2f)",
                       static_cast<float>(version.required / 100.0));
    return false;
  }
  return true;
}

// True when the module reported itself loaded; false on this library's own
// stop or after five minutes: another host's shutdown on the same desktop
// must not end this wait. Loaded comes first so it wins when both are set.
bool WaitForModuleLoaded() {
  LoaderState& state = Loader();
  HANDLE events[] = {state.moduleLoaded.get(), state.stopDetection.get()};
  return WaitForMultipleObjects(2, events, FALSE, kLoadedWaitMs) == WAIT_OBJECT_0;
}

// The window thread may still be making the window when a host starts
// detection right after loading: a console that answers at once would
// otherwise report, loaded included, into nothing. False on a stop.
bool WaitForStatusWindow() {
  LoaderState& state = Loader();
  HANDLE events[] = {state.stopDetection.get(), state.windowStarted.get()};
  return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

AttemptEnd RunAttempt(AttemptFailure* failure) {
  LoaderState& state = Loader();
  if (!WaitForStatusWindow()) return AttemptEnd::Finished;
  if (!state.statusWindow || state.windowClosed.load()) Ui::ThrowInvalidArgument();
  const uint32_t port = state.statusWindow->Port();
  const TrustPolicy policy = ReadTrustPolicy();
  ReportStatus(StatusCode::Status, "Locating Corvane Network...");
  ReportStatusFormat(StatusCode::Info, "Searching on port %d...", static_cast<int>(port));
  ResetLoaderEvent(kDllLoaded);
  ResetEvent(state.moduleLoaded.get());

  sockaddr_in console{};
  while (!ScanForConsole(&console, port, policy)) {
    if (!state.detecting.load()) return AttemptEnd::Finished;
  }
  ReportStatusFormat(StatusCode::Info, "Connecting on port %d...", static_cast<int>(port));

  Os::UniqueHandle heldOpen;  // writers kept out until the module is loaded
  {
    DpImage image;
    switch (FetchImage(console, &image, failure)) {
      case TransferResult::Received:
        break;
      case TransferResult::NoSocket:
        return AttemptEnd::Finished;
      case TransferResult::Failed:
        return AttemptEnd::FailurePath;
    }
    if (!CheckImage(image, console, policy) || !SaveImage(image, &heldOpen)) return AttemptEnd::FailurePath;
  }  // the image buffer goes here, before the module is loaded
  const bool loaded = LoadSavedImage();
  heldOpen.reset();
  if (!loaded || !BindLoadedModule()) return AttemptEnd::FailurePath;
  if (!CallDuringAttempt(state.table.SetStatusCallback,
                         [&](SetStatusCallbackFn setCallback) { setCallback(&::ReportStatus); })) {
    return AttemptEnd::FailurePath;
  }
  ReportStatus(StatusCode::Status, "VexaNet");
  ReportStatus(StatusCode::Info, "");
  const int32_t launchOption = state.launchOption.load();
  if (!CallDuringAttempt(state.table.LaunchOBExt,
                         [&](LaunchOBExtFn launch) { launch(static_cast<int32_t>(port), launchOption); })) {
    return AttemptEnd::LaunchedFailurePath;
  }
  if (!WaitForModuleLoaded()) return AttemptEnd::Finished;

  if (!ResolvePatchNodes()) {
    ReportModuleFault();
    return AttemptEnd::LaunchedFailurePath;
  }
  RunningCallbackFn callback = state.runningCallback.load();
  // A ShutdownOB that began meanwhile has told the host 0 already, or is
  // about to; the host is not told 1 after that.
  if (callback != nullptr && state.detecting.load()) {
    // Host code: it may call any export from here, ShutdownOB included.
    Os::Contain("the running callback", [&] { callback(1); });
  }
  return AttemptEnd::Finished;
}

// One attempt, from the port on: its end, with its failure path taken.
void Attempt(AttemptFailure* failure) {
  AttemptEnd end = AttemptEnd::Finished;
  try {
    end = RunAttempt(failure);
  } catch (const Ui::invalid_argument_error&) {
    // No status window: no port to search on and nowhere to report.
  } catch (...) {
    // Out of memory, or a thread or system failure: nothing half-done stays.
    end = AttemptEnd::FailurePath;
  }
  if (end != AttemptEnd::Finished) {
    Os::Contain("the connection worker's failure path",
                [&] { TakeFailurePath(end == AttemptEnd::LaunchedFailurePath); });
  }
}

bool RetriesAfterFailure() {
  const LoaderState& state = Loader();
  return state.statusWindow && state.statusWindow->RetriesAfterFailure();
}

}  // namespace

unsigned __stdcall ConnectionWorker(void*) {
  // Each worker starts Windows Sockets for itself and ends it again. Without
  // it no socket can be had, which the discovery error box then shows.
  const Os::UniqueSocketsStartup sockets = Os::StartSockets();
  if (!sockets) {
    WriteRecord(DiscoveryLog(), Os::Log::kError, "loader\\connection_worker", "ConnectionWorker", __LINE__,
                "Windows Sockets could not be started, error " + std::to_string(GetLastError()));
  }
  // A failure that may mend itself is tried again after a while, unless the
  // site turned that off; ShutdownOB and Reconnect end the wait at once.
  RetrySchedule retries;
  for (;;) {
    AttemptFailure failure;
    Attempt(&failure);
    if (!failure.transient || !RetriesAfterFailure() || DetectionStopping()) break;
    const unsigned delayMs = retries.NextDelayMs();
    ReportStatusFormat(StatusCode::Info, "%s - retrying in %u s", failure.text.c_str(), delayMs / 1000);
    if (WaitForStop(delayMs)) break;
  }
  return 0;
}

}  // namespace Ixa
