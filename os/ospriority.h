#pragma once

namespace Os {

// Scheduling class shared by threads and child processes.
enum Priority : int {
  Default = 0,
  Low = 1,
  Normal = 2,
  High = 3,
  RealTime = 4,
};

}  // namespace Os
