#pragma once

namespace Ixa {

// What the library does when it is loaded and unloaded: nothing that waits,
// loads a library or touches a window.

// Creates the state and the events and starts the status window's thread,
// the last step; throws when anything cannot be had.
void InitInstance();
// processExit: the system has ended every other thread wherever it was, and
// nothing of theirs is touched. Otherwise the library's threads are gone (or
// this is the last of them, in its last act): frees what the state holds.
void ExitInstance(bool processExit);

}  // namespace Ixa
