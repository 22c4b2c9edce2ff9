#pragma once

#include <cstdint>

#include <windows.h>

#include "loader/processor_table.h"

namespace Ixa {

// Starting and stopping detection, behind the exports and the status window.

// Stores the launch option and starts a connection worker unless one may be
// running. Throws Ui::invalid_argument_error when there is no status window.
void StartDetection(int32_t launchOption);
// Clears the detection flag, then joins the worker.
void StopConnectionWorker();
// Stops everything detection started; with closeWindow, also closes the
// status window and waits until every thread of the library has ended
// (except the calling one, which ends as its handler or callback returns).
void ShutdownLoader(bool closeWindow);
// Shutdown without closing the window, then a new start with the stored
// launch option.
void RestartDetection();

// With the processor table emptied: waits for host calls still inside the
// module (counted on calls, the count the unbind retired), then calls
// shutdown (the module's own ShutdownOB, taken from the table before it was
// emptied; null for a module never launched) under the fault guard, then
// frees the module and lets go of the library's reference for it, unless a
// call is hung inside it: both then stay loaded for good.
void ReleaseModule(ShutdownModuleFn shutdown, const ModuleCallCount& calls);

}  // namespace Ixa
