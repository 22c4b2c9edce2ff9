#pragma once

#include <string>

// How the simulated console misbehaves; one mode per failure the loader
// must handle.
enum class Fault {
  None,         // answers discovery and serves the module whole
  Silent,       // never answers discovery
  Echo,         // answers with the request itself
  ShortReply,   // answers with 3 bytes
  LongReply,    // answers with 5 bytes
  CloseAtOnce,  // takes the request, then closes without sending
  Refuse,       // answers discovery but has no TCP listener
  Cut,          // closes halfway through the image
  Stall,        // stops sending halfway through the image, keeps the connection
  Oversize,     // serves more than the loader may hold
  NotDll,       // serves bytes that are no Windows library
  JunkFirst,    // answers each request with two wrong datagrams, then the reply
  Trickle,      // serves the image a few bytes at a time, never pausing long enough to stall
  ManyExports,  // serves a DLL of 10.5 MB that is almost all export name table (many_exports_image.h)
};

struct SimulatorOptions {
  int port = 6600;
  std::string module = "processor_module.dll";
  Fault fault = Fault::None;
  std::string logPath;
  int exitAfterImages = 0;  // 0: no limit
  double lifetimeSeconds = 120;
  // A console still starting: its image server listens only this long after
  // its first discovery reply (0: at once).
  double listenAfterSeconds = 0;
};

// Parses the command line; prints usage and returns false when it is wrong.
bool ParseSimulatorOptions(int argc, char** argv, SimulatorOptions* options);

const char* FaultName(Fault fault);
