#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct ProbeOptions {
  uint32_t port = 0;  // 0: not given, use the stored port
  uint32_t timeoutMs = 5000;
  bool fetch = false;
  bool json = false;       // one JSON object per line instead of text
  bool help = false;       // print the usage and do nothing else
  bool version = false;    // print the version and do nothing else
  bool report = false;     // the whole report around the discovery round
  std::string reportFile;  // where the report goes; empty: standard output
};

// Parses [--port N] [--timeout-ms N] [--fetch] [--json] [--report [FILE]]
// [--help] [--version]; prints usage to standard error and returns false when the
// command line is wrong.
bool ParseProbeOptions(int argc, char** argv, ProbeOptions* options);

void PrintProbeUsage(FILE* to);
