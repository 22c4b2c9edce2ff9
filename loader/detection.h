#pragma once

#include <cstdint>

#include <windows.h>

// Starting and stopping detection, behind the exports and the status window.

// Stores the launch option and starts a connection worker unless one may be
// running. Throws Ui::invalid_argument_error when there is no status window.
void StartDetection(int32_t launchOption);
// Clears the detection flag, then joins the worker.
void StopConnectionWorker();
// Stops everything detection started; closes the status window on request.
void ShutdownLoader(bool closeWindow);
// Shutdown without closing the window, then a new start with the stored
// launch option; the port 65535 means "do nothing at all".
void RestartDetection(int32_t port);

// The module's own ShutdownOB, if bound, under the fault guard.
void CallModuleShutdown();
// With the processor table emptied: waits for host calls still inside the
// module and frees it (unless one is hung: it then stays loaded).
void ReleaseModule();

// Unload: nothing starts from here on, the worker is told to stop, and the
// control paths' turn is taken for good. False when a loader thread still
// held it after timeoutMs.
bool StopControlForUnload(DWORD timeoutMs);
