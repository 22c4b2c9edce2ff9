#pragma once

namespace Ixa {

// What the library does when it is loaded and unloaded: nothing that waits,
// loads a library or touches a window.

// Creates the state and the events and starts the status window's thread,
// the last step. False, with one line on the debugger output, when an event
// of the library's own cannot be had; throws when the thread cannot be made.
// A named event that cannot be had (another program may own the name) is
// told on the debugger output, and the load goes on without it.
bool InitInstance();
// processExit: the system has ended every other thread wherever it was, and
// nothing of theirs is touched. Otherwise the library's threads are gone (or
// this is the last of them, in its last act): frees what the state holds,
// which after a failed load may be half built.
void ExitInstance(bool processExit);

}  // namespace Ixa
