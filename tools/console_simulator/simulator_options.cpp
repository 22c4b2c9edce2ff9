#include "tools/console_simulator/simulator_options.h"

#include <cstdio>
#include <cstdlib>

namespace {

const struct {
  Fault fault;
  const char* name;
} kFaults[] = {
    {Fault::None, "none"},
    {Fault::Silent, "silent"},
    {Fault::Echo, "echo"},
    {Fault::ShortReply, "short-reply"},
    {Fault::LongReply, "long-reply"},
    {Fault::CloseAtOnce, "close-at-once"},
    {Fault::Refuse, "refuse"},
    {Fault::Cut, "cut"},
    {Fault::Stall, "stall"},
    {Fault::Oversize, "oversize"},
    {Fault::NotDll, "not-dll"},
    {Fault::JunkFirst, "junk-first"},
    {Fault::Trickle, "trickle"},
    {Fault::ManyExports, "many-exports"},
};

void PrintUsage() {
  std::fprintf(stderr,
               "usage: console_simulator [--port N] [--module PATH] [--fault MODE] [--log FILE]\n"
               "                         [--exit-after IMAGES] [--lifetime SECONDS] [--listen-after SECONDS]\n"
               "modes:");
  for (const auto& entry : kFaults) std::fprintf(stderr, " %s", entry.name);
  std::fprintf(stderr, "\n");
}

}  // namespace

const char* FaultName(Fault fault) {
  for (const auto& entry : kFaults) {
    if (entry.fault == fault) return entry.name;
  }
  return "?";
}

bool ParseSimulatorOptions(int argc, char** argv, SimulatorOptions* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) {
      PrintUsage();
      return false;
    }
    std::string value = argv[++i];
    if (arg == "--port") {
      options->port = std::atoi(value.c_str());
    } else if (arg == "--module") {
      options->module = value;
    } else if (arg == "--log") {
      options->logPath = value;
    } else if (arg == "--exit-after") {
      options->exitAfterImages = std::atoi(value.c_str());
    } else if (arg == "--lifetime") {
      options->lifetimeSeconds = std::atof(value.c_str());
    } else if (arg == "--listen-after") {
      options->listenAfterSeconds = std::atof(value.c_str());
    } else if (arg == "--fault") {
      bool known = false;
      for (const auto& entry : kFaults) {
        if (value == entry.name) {
          options->fault = entry.fault;
          known = true;
        }
      }
      if (!known) {
        PrintUsage();
        return false;
      }
    } else {
      PrintUsage();
      return false;
    }
  }
  if (options->port <= 0 || options->port > 65535 || options->lifetimeSeconds <= 0) {
    PrintUsage();
    return false;
  }
  return true;
}
