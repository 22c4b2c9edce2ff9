#pragma once

#include <cstdint>
#include <string>

#include "kellib/text.h"

// A 32-bit quantity that wraps around to 0.
class circ {
 public:
  circ() = default;
  explicit circ(uint32_t value) : value_(value) {}

  // True when one value is at most 0xFFFF and the other at least 0xFFFF0000:
  // the two readings lie on both sides of the wrap.
  virtual bool StraddlesWrap(uint32_t a, uint32_t b) const;

  uint32_t Value() const { return value_; }

 private:
  uint32_t value_ = 0;
};

namespace Os {

// Milliseconds from the performance counter, kept to 32 bits. Durations are
// unsigned 32-bit differences, correct across one wrap.
class TimeMs final : public circ {
 public:
  TimeMs() = default;
  explicit TimeMs(uint32_t milliseconds) : circ(milliseconds) {}

  // Reads the clock: one counter read and one division, no lock.
  static TimeMs Now();
};

struct ClockParts {
  uint32_t hours;
  uint16_t minutes;
  uint16_t seconds;
  uint16_t milliseconds;
};

ClockParts Split(TimeMs time);
// Hours with as many digits as needed, e.g. 1:02:03.004.
std::string FormatClock(const ClockParts& parts);
// Appends the FormatClock text, as log lines are stamped.
void AppendClock(kel::text& line, const ClockParts& parts);

}  // namespace Os
