#include "loader/attempt_failure.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "loader/status_report.h"

namespace Ixa {

namespace {
constexpr unsigned kLongestRetryMs = 60000;
}  // namespace

void FailTransiently(AttemptFailure* failure, const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  ReportStatus(StatusCode::Info, text);
  failure->text = text;
  failure->transient = true;
}

unsigned RetrySchedule::NextDelayMs() {
  const unsigned delay = nextMs_;
  nextMs_ = std::min(nextMs_ * 2, kLongestRetryMs);
  return delay;
}

}  // namespace Ixa
