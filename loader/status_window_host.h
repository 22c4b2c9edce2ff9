#pragma once

#include <windows.h>

// The status window's object and thread, owned by the loader state.

// Constructs the window object and starts its thread (once per load; a
// closed window is replaced).
void OpenStatusWindow();
// Ends the window's run and joins its thread (later, when called on that
// thread). The object stays until unload: module threads may still read it.
void CloseStatusWindow();
// Unload path: ends the window's run without joining its thread (the system
// holds the loader lock). False when the thread could not be ended in time.
bool CloseStatusWindowForUnload(DWORD timeoutMs);
