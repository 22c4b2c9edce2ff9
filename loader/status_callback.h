#pragma once

#include <windows.h>

#include "loader/processor_api.h"

// The status callback handed to the processor module. The module outlives
// an unload without ShutdownOB (it stays loaded, as the host may rely on),
// and its threads may still report afterwards, when this library's code is
// gone. So the module gets a few bytes of executable memory of our own,
// left behind on purpose: they forward to ReportStatus while the library is
// loaded and return at once after unload.

// The forwarder for this load of the library, made on first use; null when
// no memory could be had (the module then gets ReportStatus itself).
StatusCallbackFn ModuleStatusCallback();

// Unload: later reports return at once. Waits up to timeoutMs for reports
// already inside ReportStatus; false when one is still inside (the library
// must then stay mapped).
bool RetireModuleStatusCallback(DWORD timeoutMs);
