#pragma once

#include <cstdint>

struct ProbeOptions {
  uint32_t port = 0;  // 0: not given, use the stored port
  uint32_t timeoutMs = 5000;
  bool fetch = false;
};

// Parses [--port N] [--timeout-ms N] [--fetch]; prints usage and returns
// false when the command line is wrong.
bool ParseProbeOptions(int argc, char** argv, ProbeOptions* options);

// Whether a number can serve as a port (the stored setting may hold any).
bool IsPortNumber(uint32_t port);
