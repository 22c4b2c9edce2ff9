#include "loader/connection_worker.h"

#include "loader/loader_state.h"
#include "loader/status_report.h"

unsigned __stdcall ConnectionWorker(void*) {
  LoaderState& state = Loader();
  ReportStatus(1, "Locating Corvane Network...");
  while (state.detecting.load()) Sleep(20);
  return 0;
}
