#pragma once

#include <string>

namespace Ixa {

// Why a connection attempt failed, as its Info line showed it, and whether
// the failure may mend itself (a console still starting, a cable pulled), so
// that the worker tries again on its own.
struct AttemptFailure {
  std::string text;
  bool transient = false;
};

// Shows the printf-style text on the Info line, as ReportStatusFormat does,
// and keeps it as the attempt's transient failure.
void FailTransiently(AttemptFailure* failure, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

// The waits between attempts after transient failures: 5 s, then twice as
// long each time, at most 60 s. A worker starts afresh, so a success resets it.
class RetrySchedule {
 public:
  unsigned NextDelayMs();

 private:
  unsigned nextMs_ = 5000;
};

}  // namespace Ixa
