#include "loader/status_callback.h"

#include "loader/lingering_code.h"
#include "loader/status_report.h"
#include "os/ospoll.h"

StatusCallbackFn ModuleStatusCallback() {
  const LingeringCode* code = Lingering();
  return code != nullptr ? code->forwarder : &ReportStatus;
}

bool RetireModuleStatusCallback(DWORD timeoutMs) {
  const LingeringCode* code = Lingering();
  if (code == nullptr) return true;
  ForwarderData* data = code->forwarderData;
  InterlockedExchange(&data->open, 0);
  return Os::PollUntil([&] { return InterlockedCompareExchange(&data->inside, 0, 0) == 0; }, timeoutMs);
}
