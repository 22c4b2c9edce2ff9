#include "loader/instance.h"

#include <string>

#include <windows.h>

#include "loader/loader_state.h"
#include "loader/status_window_host.h"

namespace Ixa {

bool InitInstance() {
  LoaderState& state = Loader();
  if (!state.windowStarted || !state.stopDetection || !state.moduleLoaded) {
    OutputDebugStringA("IxaLoader: not loaded: an event of its own could not be created\n");
    return false;
  }
  for (int e = 0; e < kEventCount; ++e) {
    state.events[e].reset(CreateEventA(nullptr, FALSE, FALSE, kLoaderEventNames[e]));
    if (!state.events[e]) {
      const std::string line = std::string("IxaLoader: the event ") + kLoaderEventNames[e] +
                               " could not be had (error " + std::to_string(GetLastError()) +
                               "); going on without it\n";
      OutputDebugStringA(line.c_str());
    }
  }
  OpenStatusWindow();
  return true;
}

void ExitInstance(bool processExit) {
  if (processExit) return;
  DestroyLoaderState();
}

}  // namespace Ixa
