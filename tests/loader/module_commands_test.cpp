// DMX reads and fixture commands through the stand-in processor module,
// bound in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "IxaLoader.h"
#include "loader/dmx_buffer.h"
#include "loader/loader_state.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "tests/support/test_support.h"
#include "tools/processor_module/test_api.h"
#include "ui/patch_table.h"

using namespace Ixa;

namespace {

using Bytes = std::vector<uint8_t>;

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Module bound and held as the worker leaves it, nodes 1 and 2 on ports 0
// and 1 resolved against the default patch.
class BoundModule : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultPatch();
    module_ = LoadLibraryA("processor_module.dll");
    ASSERT_NE(module_, nullptr);
    ASSERT_TRUE(BindProcessorTable(module_));
    Configure(false);
    Loader().module.store(module_);
    ResolvePatchNodes();
    sentBefore_ = MessageCount();
  }
  void TearDown() override {
    Loader().module.store(nullptr);
    UnbindProcessorTable();
    SetDefaultPatch();
    if (module_ != nullptr) FreeLibrary(module_);
  }

  void Configure(bool faulting) {
    const int32_t nodes[] = {1, 2};
    const int32_t ports[] = {0, 1};
    Entry<TestConfigureFn>(module_, "TestConfigure")(nodes, ports, 2, 310, faulting ? 1 : 0);
  }
  int32_t MessageCount() { return Entry<TestMessageCountFn>(module_, "TestMessageCount")(); }
  // Messages sent since SetUp.
  std::vector<Bytes> Sent() {
    std::vector<Bytes> messages;
    auto get = Entry<TestGetMessageFn>(module_, "TestGetMessage");
    for (int32_t i = sentBefore_; i < MessageCount(); ++i) {
      uint8_t buffer[256];
      int32_t length = get(i, buffer, sizeof(buffer));
      messages.emplace_back(buffer, buffer + length);
    }
    return messages;
  }
  std::string CallLog() {
    char log[4096];
    Entry<TestCallLogFn>(module_, "TestCallLog")(log, sizeof(log));
    return log;
  }

  static uint8_t* Blank() { return const_cast<uint8_t*>(kBlankUniverse); }

  HMODULE module_ = nullptr;
  int32_t sentBefore_ = 0;
};

TEST_F(BoundModule, ResolvedRowsGetTheModulesBufferForTheirPortAndUniverse) {
  EXPECT_NE(CallLog().find("GetAvailableNodes(20),ConnectToNode(1),ConnectToNode(2)"), std::string::npos);
  for (uint16_t row = 0; row < 32; ++row) {
    unsigned char* buffer = nullptr;
    ASSERT_EQ(GetDMXBuffer(row, &buffer), 1) << row;
    ASSERT_NE(buffer, Blank());
    EXPECT_EQ(buffer[0], row / 16) << row;
    EXPECT_EQ(buffer[1], row % 16) << row;
  }
  for (uint16_t row = 32; row < 64; ++row) {
    unsigned char* buffer = nullptr;
    EXPECT_EQ(GetDMXBuffer(row, &buffer), 0) << row;
    EXPECT_EQ(buffer, Blank());
  }
}

TEST_F(BoundModule, RowsThatCannotBeServedGetTheBlankBuffer) {
  PatchTable()[3].enabled.store(0);
  unsigned char* buffer = nullptr;
  EXPECT_EQ(GetDMXBuffer(3, &buffer), 0);
  EXPECT_EQ(buffer, Blank());

  for (uint16_t row : {uint16_t{64}, uint16_t{65535}}) {
    buffer = nullptr;
    EXPECT_EQ(GetDMXBuffer(row, &buffer), 0);
    EXPECT_EQ(buffer, Blank());
  }
  EXPECT_EQ(GetDMXBuffer(0, nullptr), 0);

  // A port the module does not know.
  PatchTable()[0].portIndex.store(-2);
  buffer = nullptr;
  EXPECT_EQ(GetDMXBuffer(0, &buffer), 0);
  EXPECT_EQ(buffer, Blank());

  for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(Blank()[i * 32], 0);
}

TEST_F(BoundModule, OnlyTheLow16BitsOfThePortCount) {
  PatchTable()[5].portIndex.store(0x30001);
  unsigned char* buffer = nullptr;
  ASSERT_EQ(GetDMXBuffer(5, &buffer), 1);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 5);
}

TEST_F(BoundModule, NothingIsServedWithoutAModuleHandleOrEntryPoint) {
  Loader().module.store(nullptr);
  unsigned char* buffer = nullptr;
  EXPECT_EQ(GetDMXBuffer(0, &buffer), 0);
  EXPECT_EQ(buffer, Blank());

  Loader().module.store(module_);
  Loader().table.GetPortBuffer.store(nullptr);
  buffer = nullptr;
  EXPECT_EQ(GetDMXBuffer(0, &buffer), 0);
  EXPECT_EQ(buffer, Blank());
}

TEST_F(BoundModule, AFaultingModuleGivesTheBlankBuffer) {
  Configure(true);
  for (uint16_t row : {0, 17}) {
    unsigned char* buffer = nullptr;
    EXPECT_EQ(GetDMXBuffer(row, &buffer), 0);
    EXPECT_EQ(buffer, Blank());
  }
  Configure(false);
  unsigned char* buffer = nullptr;
  EXPECT_EQ(GetDMXBuffer(17, &buffer), 1);
  EXPECT_EQ(buffer[0], 1);
}

TEST_F(BoundModule, CommandsReachTheModuleInOrder) {
  EXPECT_EQ(ClearProgrammer(), 1);
  EXPECT_EQ(SelectNone(), 1);
  EXPECT_EQ(SelectFixture(1), 1);
  EXPECT_EQ(DeselectFixture(129), 1);
  EXPECT_EQ(KnockoutFixture(300), 1);
  EXPECT_EQ(SetFixturePanTilt(5, 1000, 8191), 1);
  EXPECT_EQ(SetFixtureIntensity(5, 255), 1);
  EXPECT_EQ(SelectFixture(16384), 1);

  std::vector<Bytes> expected = {
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x20, 0x5F, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x21, 0x5E, 0xF7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x24, 0x00, 0x00, 0x01, 0x00, 0x5A, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x23, 0x00, 0x00, 0x01, 0x01, 0x5A, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x21, 0x00, 0x00, 0x2C, 0x02, 0x30, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x30, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x68, 0x07, 0x5B, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x30, 0x00, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x7F, 0x3F, 0x0B, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x30, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x01, 0x7F, 0x48, 0xF7},
      {0xF0, 0x7F, 0x00, 0x02, 0x00, 0x00, 0x24, 0x00, 0x00, 0x00, 0x00, 0x5B, 0xF7},
  };
  EXPECT_EQ(Sent(), expected);
}

TEST_F(BoundModule, CommandsWithoutAModuleAreDroppedAndStillSucceed) {
  UnbindProcessorTable();
  EXPECT_EQ(ClearProgrammer(), 1);
  EXPECT_EQ(SelectNone(), 1);
  EXPECT_EQ(SelectFixture(2), 1);
  EXPECT_EQ(DeselectFixture(2), 1);
  EXPECT_EQ(KnockoutFixture(2), 1);
  EXPECT_EQ(SetFixturePanTilt(2, 3, 4), 1);
  EXPECT_EQ(SetFixtureIntensity(2, 5), 1);
  EXPECT_TRUE(Sent().empty());
}

// Host threads read and command while the table is bound and unbound and
// the patch re-resolved underneath them.
TEST_F(BoundModule, HostThreadsSurviveBindingAndUnbinding) {
  std::atomic<bool> done{false};
  std::atomic<int> wrongBuffers{0};
  std::atomic<int> served{0};
  std::atomic<int> blankPatched{0};  // a patched row read while the table was not ready
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t) {
    hosts.emplace_back([&, t] {
      uint32_t n = 0;
      while (!done.load() || n < 2000) {
        uint16_t row = static_cast<uint16_t>((n * 7 + t) % 70);
        unsigned char* buffer = nullptr;
        if (GetDMXBuffer(row, &buffer) != 0) {
          if (row >= 32 || buffer[0] != row / 16 || buffer[1] != row % 16) ++wrongBuffers;
          ++served;
        } else {
          if (buffer != const_cast<uint8_t*>(kBlankUniverse)) ++wrongBuffers;
          if (row < 32) ++blankPatched;
        }
        if (n % 16 == 0) {
          SelectFixture(n);
          SetFixturePanTilt(n, n, n);
        }
        ++n;
      }
    });
  }
  for (int cycle = 0; cycle < 300; ++cycle) {
    UnbindProcessorTable();
    ReresolvePatchPorts();
    // Once, keep the table empty until a host has read a patched row blank.
    if (cycle == 0) {
      EXPECT_TRUE(testing_support::WaitUntil([&] { return blankPatched.load() > 0; }, 10000));
    }
    Sleep(0);
    ASSERT_TRUE(BindProcessorTable(module_));
    ResolvePatchNodes();
    Sleep(0);
  }
  EXPECT_TRUE(testing_support::WaitUntil([&] { return served.load() > 0; }, 10000));
  done.store(true);
  for (std::thread& host : hosts) host.join();
  EXPECT_EQ(wrongBuffers.load(), 0);
}

}  // namespace
