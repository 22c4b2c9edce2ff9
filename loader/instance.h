#pragma once

// What the library does when it is loaded and unloaded.

// Starts Windows Sockets, creates the events and opens the status window.
bool InitInstance();
// processExit: the process is ending and every other thread is gone.
void ExitInstance(bool processExit);
