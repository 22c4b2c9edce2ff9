#include "loader/instance.h"

#include "loader/loader_state.h"
#include "loader/status_window_host.h"

namespace Ixa {

void InitInstance() {
  LoaderState& state = Loader();
  for (int e = 0; e < kEventCount; ++e) {
    state.events[e].reset(CreateEventA(nullptr, FALSE, FALSE, kLoaderEventNames[e]));
  }
  OpenStatusWindow();
}

void ExitInstance(bool processExit) {
  if (processExit) return;
  DestroyLoaderState();
}

}  // namespace Ixa
