#pragma once

// What tests and the demo may ask of the stand-in processor module, beyond
// the sixteen entry points the loader binds.

#include <stdint.h>

extern "C" {
// Nodes the module offers (GetAvailableNodes), the port each ConnectToNode
// answers, the loader version it needs, and whether GetPortBuffer faults.
// Defaults come from the environment at load (IXA_MODULE_NODES="1,2",
// IXA_MODULE_PORTS="0,1", IXA_MODULE_VERSION, IXA_MODULE_FAULT: "1" or
// an entry point's name, which then faults whenever it is called, and
// IXA_MODULE_SEND_MS: how long each SendMIDICommands call takes).
typedef void(__cdecl* TestConfigureFn)(const int32_t* nodes, const int32_t* ports, int32_t count, int32_t version,
                                       int32_t faultingPortBuffer);
// Messages handed to SendMIDICommands, in order.
typedef int32_t(__cdecl* TestMessageCountFn)(void);
typedef int32_t(__cdecl* TestGetMessageFn)(int32_t index, uint8_t* out, int32_t capacity);
// Comma-separated log of the entry points called, with their arguments.
typedef int32_t(__cdecl* TestCallLogFn)(char* out, int32_t capacity);
typedef int32_t(__cdecl* TestLaunchCountFn)(int32_t* lastPort, int32_t* lastOption);
// Reports through the status callback the loader handed over.
typedef void(__cdecl* TestReportStatusFn)(int32_t code, const char* text);
// Reports through the status callback from a thread of the module's own,
// delayMs from now (after the loader may have been unloaded).
typedef void(__cdecl* TestReportLaterFn)(int32_t delayMs, int32_t code, const char* text);
// The performance counter when the module was attached to the process.
typedef int64_t(__cdecl* TestAttachCounterFn)(void);
}

// Each ShutdownOB leaves the microseconds it took in this environment
// variable of the process, so the loader's own share can be told apart.
constexpr char kShutdownTimeVariable[] = "IXA_MODULE_SHUTDOWN_US";
// ... and how many GetPortBuffer calls came in while it ran.
constexpr char kCallsInShutdownVariable[] = "IXA_MODULE_CALLS_IN_SHUTDOWN";
// Set once a SendMIDICommands call with IXA_MODULE_SEND_MS has begun, and
// once a TestReportLater report has come back.
constexpr char kInSendVariable[] = "IXA_MODULE_IN_SEND";
constexpr char kLateReportedVariable[] = "IXA_MODULE_LATE_REPORTED";
// Set as the module is attached to a process: "1", and whether its file
// could be opened for writing meanwhile ("1") or not ("0").
constexpr char kAttachedVariable[] = "IXA_MODULE_ATTACHED";
constexpr char kWritableWhileLoadingVariable[] = "IXA_MODULE_WRITABLE_WHILE_LOADING";

// DMX pattern: byte 0 the port, byte 1 the universe, byte 2 the frame
// counter, the rest derived from all three.
inline uint8_t ProcessorPatternByte(uint32_t port, int32_t universe, uint32_t frame, int index) {
  if (index == 0) return static_cast<uint8_t>(port);
  if (index == 1) return static_cast<uint8_t>(universe);
  if (index == 2) return static_cast<uint8_t>(frame);
  return static_cast<uint8_t>(index * 7 + port * 31 + universe * 17 + frame);
}
