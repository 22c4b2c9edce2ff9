#pragma once

// Entry points of the console's virtual processor module, all called with
// the C convention (the caller removes the arguments).

#include <cstdint>

extern "C" {
typedef void(__cdecl* StatusCallbackFn)(int32_t code, const char* text);

typedef int32_t(__cdecl* GetNumPortsFn)(void);
typedef int32_t(__cdecl* GetNumChannelsFn)(void);
typedef int32_t(__cdecl* GetPortBufferFn)(uint32_t port, int32_t universe, uint8_t** buffer);
typedef int32_t(__cdecl* LaunchOBExtFn)(int32_t port, int32_t launchOption);
typedef int32_t(__cdecl* GetAvailableNodesFn)(int32_t* nodes, int32_t capacity);
typedef int32_t(__cdecl* ConnectToNodeFn)(int32_t node);
typedef int32_t(__cdecl* DisconnectFromNodeFn)(int32_t node);
typedef int32_t(__cdecl* ShutdownModuleFn)(void);
typedef void(__cdecl* SetStatusCallbackFn)(StatusCallbackFn callback);
typedef int32_t(__cdecl* StartPatchOperationFn)(void);
typedef int32_t(__cdecl* SendPatchFn)(void);
typedef int32_t(__cdecl* FinishPatchOperationFn)(void);
typedef int32_t(__cdecl* ClearPatchFromOBFn)(void);
typedef int32_t(__cdecl* SendMIDICommandsFn)(int32_t device, int32_t length, const uint8_t* message);
typedef int32_t(__cdecl* GetLoaderVersionFn)(int32_t* version);
typedef int32_t(__cdecl* ChangeUserNumFn)(int32_t userNumber);
}

// The sixteen names the loader binds, in binding order; a module that lacks
// any of them is refused.
constexpr const char* kProcessorEntryPoints[] = {
    "GetNumPorts",       "GetNumChannels",      "GetPortBuffer",      "LaunchOBExt",
    "GetAvailableNodes", "ConnectToNode",       "DisconnectFromNode", "ShutdownOB",
    "SetStatusCallback", "StartPatchOperation", "SendPatch",          "FinishPatchOperation",
    "ClearPatchFromOB",  "SendMIDICommands",    "GetLoaderVersion",   "ChangeUserNum",
};
constexpr int kProcessorEntryPointCount = sizeof(kProcessorEntryPoints) / sizeof(kProcessorEntryPoints[0]);

// The loader's own version times 100; a module asking for more is refused.
constexpr int32_t kLoaderVersion = 310;
