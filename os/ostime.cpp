#include "os/ostime.h"

#include <cstdio>

#include <windows.h>

bool circ::StraddlesWrap(uint32_t a, uint32_t b) const {
  auto low = [](uint32_t value) { return value <= 0xFFFFu; };
  auto high = [](uint32_t value) { return value >= 0xFFFF0000u; };
  return (low(a) && high(b)) || (high(a) && low(b));
}

namespace Os {
namespace {

int64_t ComputeCountsPerMs() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  int64_t countsPerMs = frequency.QuadPart / 1000;
  // A counter slower than 1 kHz still gives a usable, if coarse, clock.
  return countsPerMs == 0 ? 1 : countsPerMs;
}

int64_t CountsPerMs() {
  // The guard of a function-local static is the once-flag: the first caller
  // computes, every other caller waits until the value is complete.
  static const int64_t countsPerMs = ComputeCountsPerMs();
  return countsPerMs;
}

}  // namespace

TimeMs TimeMs::Now() {
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return TimeMs(static_cast<uint32_t>(count.QuadPart / CountsPerMs()));
}

ClockParts Split(TimeMs time) {
  uint32_t value = time.Value();
  return ClockParts{value / 3600000u, static_cast<uint16_t>(value / 60000u % 60u),
                    static_cast<uint16_t>(value / 1000u % 60u), static_cast<uint16_t>(value % 1000u)};
}

std::string FormatClock(const ClockParts& parts) {
  char clock[20];
  std::snprintf(clock, sizeof clock, "%lu:%02hu:%02hu.%03hu", static_cast<unsigned long>(parts.hours), parts.minutes,
                parts.seconds, parts.milliseconds);
  return clock;
}

void AppendClock(kel::text& line, const ClockParts& parts) {
  // Short enough for the string's inline storage: no allocation.
  line.Append(FormatClock(parts).c_str());
}

}  // namespace Os
