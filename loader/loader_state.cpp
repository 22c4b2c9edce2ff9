#include "loader/loader_state.h"

#include "ui/config_dialog.h"

namespace Ixa {

const char* const kLoaderEventNames[kEventCount] = {
    "ORB_DLL_LOADED_EVENT",
    "SHUTTINGDOWN_EVENT",
    "ORB_DIALOG_DISPLAYED_EVENT",
    "ORB_DIALOG_CLOSED_EVENT",
};

namespace {
// Heap-held and destroyed only by an unload, never at process exit, when
// the threads that used it were ended wherever they were.
LoaderState* gState = nullptr;
}  // namespace

LoaderState& Loader() {
  if (gState == nullptr) gState = new LoaderState;
  return *gState;
}

void DestroyLoaderState() {
  delete gState;
  gState = nullptr;
}

void SetLoaderEvent(LoaderEvent event) { SetEvent(Loader().events[event].get()); }

void ResetLoaderEvent(LoaderEvent event) { ResetEvent(Loader().events[event].get()); }

}  // namespace Ixa
