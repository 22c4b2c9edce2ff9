#pragma once

#include <atomic>
#include <cstddef>

#include <windows.h>

#include "loader/processor_api.h"

namespace Ixa {

// Calls inside the module through one binding (see module_gate.h).
struct alignas(64) ModuleCallCount {
  std::atomic<int32_t> inside{0};
};

// The sixteen entry points of the bound processor module. Host threads read
// the slots without a lock while the worker or ShutdownOB (un)binds them, so
// each slot is one atomic pointer; an empty slot means "skip the call".
struct ProcessorTable {
  ProcessorTable();
  // Never null; replaced at each unbind.
  std::atomic<ModuleCallCount*> calls;

  std::atomic<GetNumPortsFn> GetNumPorts{nullptr};
  std::atomic<GetNumChannelsFn> GetNumChannels{nullptr};
  std::atomic<GetPortBufferFn> GetPortBuffer{nullptr};
  std::atomic<LaunchOBExtFn> LaunchOBExt{nullptr};
  std::atomic<GetAvailableNodesFn> GetAvailableNodes{nullptr};
  std::atomic<ConnectToNodeFn> ConnectToNode{nullptr};
  std::atomic<DisconnectFromNodeFn> DisconnectFromNode{nullptr};
  std::atomic<ShutdownModuleFn> ShutdownOB{nullptr};
  std::atomic<SetStatusCallbackFn> SetStatusCallback{nullptr};
  std::atomic<StartPatchOperationFn> StartPatchOperation{nullptr};
  std::atomic<SendPatchFn> SendPatch{nullptr};
  std::atomic<FinishPatchOperationFn> FinishPatchOperation{nullptr};
  std::atomic<ClearPatchFromOBFn> ClearPatchFromOB{nullptr};
  std::atomic<SendMIDICommandsFn> SendMIDICommands{nullptr};
  std::atomic<GetLoaderVersionFn> GetLoaderVersion{nullptr};
  std::atomic<ChangeUserNumFn> ChangeUserNum{nullptr};
};

// Looks up all sixteen names; true only when every one was found. Slots
// found stay filled on failure; the caller's failure path unbinds.
bool BindProcessorTable(HMODULE module);

// Empties every slot and the node table, then retires the calls' count and
// returns it, for WaitForModuleCalls.
ModuleCallCount& UnbindProcessorTable();

// The version the bound module needs (times 100), and whether this loader
// is new enough for it.
struct LoaderVersionCheck {
  int32_t required;
  bool accepted;
  bool answered;  // false when the module faulted instead
};
LoaderVersionCheck CheckLoaderVersion();

// Hands a changed user number to the module, when it has the entry point.
int32_t ChangeUserNumber(int32_t userNumber);

}  // namespace Ixa
