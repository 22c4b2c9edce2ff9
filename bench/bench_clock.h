#pragma once

#include <windows.h>

// Nanoseconds on the performance counter, for timing benchmark rounds.
inline double NowNs() {
  static const double nsPerCount = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e9 / static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * nsPerCount;
}
