#pragma once

#include <cstdint>
#include <cstdio>

struct ProbeOptions {
  uint32_t port = 0;  // 0: not given, use the stored port
  uint32_t timeoutMs = 5000;
  bool fetch = false;
  bool json = false;     // one JSON object per line instead of text
  bool help = false;     // print the usage and do nothing else
  bool version = false;  // print the version and do nothing else
};

// Parses [--port N] [--timeout-ms N] [--fetch] [--json] [--help]
// [--version]; prints usage to standard error and returns false when the
// command line is wrong.
bool ParseProbeOptions(int argc, char** argv, ProbeOptions* options);

void PrintProbeUsage(FILE* to);

// Whether a number can serve as a port (the stored setting may hold any).
bool IsPortNumber(uint32_t port);
