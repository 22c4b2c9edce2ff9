#include "loader/loader_state.h"

#include "ui/config_dialog.h"

const char* const kLoaderEventNames[kEventCount] = {
    "ORB_DLL_LOADED_EVENT",
    "SHUTTINGDOWN_EVENT",
    "ORB_DIALOG_DISPLAYED_EVENT",
    "ORB_DIALOG_CLOSED_EVENT",
};

LoaderState& Loader() {
  static LoaderState state;
  return state;
}

void SetLoaderEvent(LoaderEvent event) { SetEvent(Loader().events[event].get()); }

void ResetLoaderEvent(LoaderEvent event) { ResetEvent(Loader().events[event].get()); }
