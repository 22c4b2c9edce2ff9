#pragma once

namespace Ixa {

// The status window's object and thread, owned by the loader state.

// Constructs the window object and starts its thread (at load).
void OpenStatusWindow();
// Ends the window's run and waits until its thread has ended; on that
// thread itself (a handler calling ShutdownOB(1) through the running
// callback) the run ends once the handler returns. The object stays until
// unload: the thread may still use it on its way out.
void CloseStatusWindow();

}  // namespace Ixa
