#include "loader/patch_nodes.h"

#include <vector>

#include "loader/loader_state.h"
#include "loader/module_gate.h"
#include "ui/patch_table.h"

namespace Ixa {

namespace {

// The room the module is told of; a module that writes past it writes into
// the rest of a buffer that is far larger, which is never read.
constexpr int32_t kNodeCapacity = 20;
constexpr size_t kNodeBufferSlots = 256;

// The module answers how many nodes it has, which may be more than the room
// it was given (it wrote only what fitted) or, from a broken module,
// negative; only the 20 slots we handed over can hold node numbers.
int32_t ClampNodeCount(int32_t count) {
  if (count < 0) return 0;
  return count > kNodeCapacity ? kNodeCapacity : count;
}

void AssignPort(const NodeEntry& node) {
  PatchRow* rows = PatchTable();
  for (int r = 0; r < kPatchRowCount; ++r) {
    if (rows[r].dpIndex.load() == node.dpIndex) rows[r].portIndex.store(node.port);
  }
}

}  // namespace

void ClearNodeTable() {
  Os::Key key(Loader().nodesLock);
  Loader().nodes.clear();
}

bool ResolvePatchNodes() {
  LoaderState& state = Loader();
  // The module is asked without the lock held: it is foreign code and may
  // take its time.
  std::vector<NodeEntry> nodes;
  ModuleCallScope scope(state.table);
  GetAvailableNodesFn getAvailableNodes = state.table.GetAvailableNodes.load();
  ConnectToNodeFn connectToNode = state.table.ConnectToNode.load();
  if (getAvailableNodes != nullptr && connectToNode != nullptr) {
    int32_t numbers[kNodeBufferSlots] = {};
    // Reserved first: nothing may throw inside the guard.
    nodes.reserve(kNodeCapacity);
    bool returned = CallModuleGuarded([&] {
      int32_t count = ClampNodeCount(getAvailableNodes(numbers, kNodeCapacity));
      for (int32_t i = 0; i < count; ++i) {
        // Wrapping subtraction: any number the module answers is a valid input.
        int32_t dpIndex = static_cast<int32_t>(static_cast<uint32_t>(numbers[i]) - 1u);
        nodes.push_back(NodeEntry{dpIndex, connectToNode(numbers[i])});
      }
    });
    if (!returned) return false;
  }

  // Replacing the table and writing the rows under the lock keeps a
  // concurrent ReresolvePatchPorts from reading a table being freed or
  // overwriting the rows with the previous connection's ports.
  Os::Key key(state.nodesLock);
  state.nodes = std::move(nodes);
  for (const NodeEntry& node : state.nodes) AssignPort(node);
  return true;
}

void ReresolvePatchPorts() {
  LoaderState& state = Loader();
  Os::Key key(state.nodesLock);
  PatchRow* rows = PatchTable();
  for (int r = 0; r < kPatchRowCount; ++r) {
    // Each row is stored once with its final port (the last matching node
    // wins), so a host reading it meanwhile never sees a passing -1.
    int32_t dpIndex = rows[r].dpIndex.load();
    int32_t port = -1;
    for (const NodeEntry& node : state.nodes) {
      if (node.dpIndex == dpIndex) port = node.port;
    }
    rows[r].portIndex.store(port);
  }
}

}  // namespace Ixa
