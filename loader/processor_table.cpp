#include "loader/processor_table.h"

#include "loader/loader_state.h"
#include "loader/module_gate.h"
#include "loader/patch_nodes.h"

namespace Ixa {

namespace {

// Counts are reused once nothing is counted on them: a count left behind
// by a thread that ended inside a module keeps its record for good.
constexpr size_t kReusedCounts = 8;
ModuleCallCount gCounts[kReusedCounts];

ModuleCallCount* FreshCount(const ModuleCallCount* retiring) {
  for (ModuleCallCount& count : gCounts) {
    if (&count != retiring && count.inside.load() == 0) return &count;
  }
  return new ModuleCallCount;
}

template <typename Fn>
bool Bind(HMODULE module, const char* name, std::atomic<Fn>& slot) {
  Fn entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  slot.store(entry);
  return entry != nullptr;
}

}  // namespace

bool BindProcessorTable(HMODULE module) {
  if (module == nullptr) return false;
  ProcessorTable& t = Loader().table;
  // Every name is looked up, in kProcessorEntryPoints' order, even after
  // one is missing.
  const char* const* name = kProcessorEntryPoints;
  bool all = true;
  all &= Bind(module, *name++, t.GetNumPorts);
  all &= Bind(module, *name++, t.GetNumChannels);
  all &= Bind(module, *name++, t.GetPortBuffer);
  all &= Bind(module, *name++, t.LaunchOBExt);
  all &= Bind(module, *name++, t.GetAvailableNodes);
  all &= Bind(module, *name++, t.ConnectToNode);
  all &= Bind(module, *name++, t.DisconnectFromNode);
  all &= Bind(module, *name++, t.ShutdownOB);
  all &= Bind(module, *name++, t.SetStatusCallback);
  all &= Bind(module, *name++, t.StartPatchOperation);
  all &= Bind(module, *name++, t.SendPatch);
  all &= Bind(module, *name++, t.FinishPatchOperation);
  all &= Bind(module, *name++, t.ClearPatchFromOB);
  all &= Bind(module, *name++, t.SendMIDICommands);
  all &= Bind(module, *name++, t.GetLoaderVersion);
  all &= Bind(module, *name++, t.ChangeUserNum);
  static_assert(kProcessorEntryPointCount == 16, "one slot per name");
  return all;
}

ProcessorTable::ProcessorTable() : calls(&gCounts[0]) {}

ModuleCallCount& UnbindProcessorTable() {
  ProcessorTable& t = Loader().table;
  t.GetNumPorts.store(nullptr);
  t.GetNumChannels.store(nullptr);
  t.GetPortBuffer.store(nullptr);
  t.LaunchOBExt.store(nullptr);
  t.GetAvailableNodes.store(nullptr);
  t.ConnectToNode.store(nullptr);
  t.DisconnectFromNode.store(nullptr);
  t.ShutdownOB.store(nullptr);
  t.SetStatusCallback.store(nullptr);
  t.StartPatchOperation.store(nullptr);
  t.SendPatch.store(nullptr);
  t.FinishPatchOperation.store(nullptr);
  t.ClearPatchFromOB.store(nullptr);
  t.SendMIDICommands.store(nullptr);
  t.GetLoaderVersion.store(nullptr);
  t.ChangeUserNum.store(nullptr);
  ClearNodeTable();
  // After the slots: a call counted on the retired count from here on finds
  // them empty.
  ModuleCallCount* retired = t.calls.load();
  t.calls.store(FreshCount(retired));
  return *retired;
}

LoaderVersionCheck CheckLoaderVersion() {
  int32_t required = 0;
  // A module that faults here is not one to run.
  const ProcessorTable& table = Loader().table;
  bool answered =
      CallModuleEntry(table, table.GetLoaderVersion, [&](GetLoaderVersionFn getVersion) { getVersion(&required); });
  return {required, answered && required <= kLoaderVersion, answered};
}

int32_t ChangeUserNumber(int32_t userNumber) {
  int32_t result = 0;
  const ProcessorTable& table = Loader().table;
  CallModuleEntry(table, table.ChangeUserNum, [&](ChangeUserNumFn change) { result = change(userNumber); });
  return result;
}

}  // namespace Ixa
