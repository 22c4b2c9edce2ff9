#pragma once

#include <windows.h>

// The status window's object and thread, owned by the loader state.

// Constructs the window object and starts its thread (once per load).
void OpenStatusWindow();
// Ends the window's run, joins its thread and releases the object. Never
// call on the status window thread itself.
void CloseStatusWindow();
// Unload path: ends the window's run without joining its thread (the system
// holds the loader lock). False when the thread could not be ended in time.
bool CloseStatusWindowForUnload(DWORD timeoutMs);
