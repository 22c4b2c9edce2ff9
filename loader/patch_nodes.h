#pragma once

#include <cstdint>

namespace Ixa {

// One available processor node of the bound module.
struct NodeEntry {
  int32_t dpIndex;  // node number minus 1
  int32_t port;     // what ConnectToNode answered
};

// Frees the node table; the node count becomes 0.
void ClearNodeTable();

// Asks the bound module for its nodes (room for 20), connects to each in
// list order and gives every patch row of that node's processor its port.
// False when the module faulted; the rows and table are then left alone.
bool ResolvePatchNodes();
// Re-resolves every row from the remembered node table; no module call.
void ReresolvePatchPorts();

}  // namespace Ixa
