// Patch node resolution against scripted module entry points.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "loader/loader_state.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "ui/patch_table.h"

using namespace Ixa;

namespace {

struct Script {
  std::vector<int32_t> nodes;
  std::vector<int32_t> ports;
  int32_t answeredCount = 0;
  int32_t capacitySeen = 0;
  std::vector<int32_t> connected;
  int availableCalls = 0;
};
Script gScript;

int32_t __cdecl FakeGetAvailableNodes(int32_t* nodes, int32_t capacity) {
  ++gScript.availableCalls;
  gScript.capacitySeen = capacity;
  for (size_t i = 0; i < gScript.nodes.size() && static_cast<int32_t>(i) < capacity; ++i) nodes[i] = gScript.nodes[i];
  return gScript.answeredCount;
}

// A broken module that writes far more nodes than it was given room for.
int32_t __cdecl OverrunningGetAvailableNodes(int32_t* nodes, int32_t) {
  for (int32_t i = 0; i < 256; ++i) nodes[i] = 2;
  return 256;
}

// Answers the ports in call order.
int32_t __cdecl FakeConnectToNode(int32_t node) {
  size_t call = gScript.connected.size() % gScript.ports.size();
  gScript.connected.push_back(node);
  return gScript.ports[call];
}

class PatchNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultPatch();
    gScript = Script{};
    Loader().table.GetAvailableNodes.store(&FakeGetAvailableNodes);
    Loader().table.ConnectToNode.store(&FakeConnectToNode);
  }
  void TearDown() override {
    UnbindProcessorTable();
    SetDefaultPatch();
  }

  static void Offer(std::vector<int32_t> nodes, std::vector<int32_t> ports) {
    gScript.answeredCount = static_cast<int32_t>(nodes.size());
    gScript.nodes = std::move(nodes);
    gScript.ports = std::move(ports);
  }
  static int32_t Port(int row) { return PatchTable()[row].portIndex.load(); }
  static size_t NodeCount() {
    Os::Key key(Loader().nodesLock);
    return Loader().nodes.size();
  }
};

TEST_F(PatchNodes, DefaultPatchWithTwoNodes) {
  Offer({1, 2}, {0, 1});
  ResolvePatchNodes();
  EXPECT_EQ(gScript.availableCalls, 1);
  EXPECT_EQ(gScript.capacitySeen, 20);
  EXPECT_EQ(gScript.connected, (std::vector<int32_t>{1, 2}));
  for (int r = 0; r < 16; ++r) EXPECT_EQ(Port(r), 0) << r;
  for (int r = 16; r < 32; ++r) EXPECT_EQ(Port(r), 1) << r;
  for (int r = 32; r < 64; ++r) EXPECT_EQ(Port(r), -1) << r;

  // The Patch dialog moves row 40 to DP# 2: resolved from memory alone.
  PatchTable()[40].dpIndex.store(1);
  gScript.connected.clear();
  ReresolvePatchPorts();
  EXPECT_EQ(Port(40), 1);
  EXPECT_EQ(Port(39), -1);
  EXPECT_EQ(gScript.availableCalls, 1);
  EXPECT_TRUE(gScript.connected.empty());

  // After an unbind there are no nodes, so nothing stays resolved.
  UnbindProcessorTable();
  EXPECT_EQ(NodeCount(), 0u);
  ReresolvePatchPorts();
  for (int r = 0; r < 64; ++r) EXPECT_EQ(Port(r), -1) << r;
}

TEST_F(PatchNodes, RowsOfMissingNodesKeepTheirPort) {
  PatchTable()[0].portIndex.store(7);
  PatchTable()[20].portIndex.store(8);
  Offer({3}, {4});
  ResolvePatchNodes();
  EXPECT_EQ(Port(0), 7);
  EXPECT_EQ(Port(20), 8);
  EXPECT_EQ(Port(1), -1);
  for (int r = 32; r < 48; ++r) EXPECT_EQ(Port(r), 4) << r;
}

TEST_F(PatchNodes, LaterNodeOfTheSameNumberWins) {
  gScript.answeredCount = 2;
  gScript.nodes = {2, 2};
  gScript.ports = {5, 6};
  ResolvePatchNodes();
  EXPECT_EQ(gScript.connected, (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(Port(16), 6);
  ReresolvePatchPorts();
  EXPECT_EQ(Port(16), 6);
  EXPECT_EQ(Port(31), 6);
}

TEST_F(PatchNodes, NodeCountAboveCapacityIsClamped) {
  std::vector<int32_t> nodes, ports;
  for (int32_t n = 1; n <= 25; ++n) {
    nodes.push_back(n);
    ports.push_back(n + 100);
  }
  Offer(nodes, ports);
  ResolvePatchNodes();
  ASSERT_EQ(gScript.connected.size(), 20u);
  EXPECT_EQ(gScript.connected.back(), 20);
  EXPECT_EQ(NodeCount(), 20u);
  EXPECT_EQ(Port(0), 101);
  EXPECT_EQ(Port(63), 104);
}

TEST_F(PatchNodes, AModuleWritingPastTheRoomItWasGivenCorruptsNothing) {
  gScript.ports = {7};
  Loader().table.GetAvailableNodes.store(&OverrunningGetAvailableNodes);
  ResolvePatchNodes();
  EXPECT_EQ(gScript.connected.size(), 20u);
  EXPECT_EQ(NodeCount(), 20u);
  EXPECT_EQ(Port(16), 7);
  EXPECT_EQ(Port(0), -1);
}

TEST_F(PatchNodes, NegativeNodeCountMeansNoNodes) {
  Offer({1}, {0});
  ResolvePatchNodes();
  ASSERT_EQ(Port(0), 0);
  gScript.answeredCount = -3;
  gScript.connected.clear();
  gScript.nodes.assign(20, 1);
  ResolvePatchNodes();
  EXPECT_TRUE(gScript.connected.empty());
  EXPECT_EQ(NodeCount(), 0u);
  EXPECT_EQ(Port(0), 0);  // not reset by a resolution
  ReresolvePatchPorts();
  EXPECT_EQ(Port(0), -1);
}

// The worker resolves while the Patch dialog re-resolves: the node table is
// replaced under the window's feet, and no row may ever show anything but
// a port of a node.
TEST_F(PatchNodes, ResolvingWhileTheWindowReresolves) {
  Offer({1, 2}, {0, 1});
  ResolvePatchNodes();
  std::atomic<bool> done{false};
  std::atomic<bool> started{false};
  std::atomic<int> wrongPorts{0};
  std::thread window([&] {
    started.store(true);
    while (!done.load()) {
      ReresolvePatchPorts();
      for (int r = 0; r < 32; ++r) {
        int32_t port = Port(r);
        if (port != r / 16) ++wrongPorts;
      }
    }
  });
  while (!started.load()) Sleep(0);
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 300) ResolvePatchNodes();
  done.store(true);
  window.join();
  EXPECT_EQ(wrongPorts.load(), 0);
  EXPECT_EQ(NodeCount(), 2u);
}

}  // namespace
