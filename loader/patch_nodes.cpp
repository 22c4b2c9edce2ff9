#include "loader/patch_nodes.h"

#include "loader/loader_state.h"

void ClearNodeTable() {
  Os::Key key(Loader().nodesLock);
  Loader().nodes.clear();
}

void ResolvePatchNodes() {}

void ReresolvePatchPorts() {}
