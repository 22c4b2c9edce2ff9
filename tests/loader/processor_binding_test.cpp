// Binding the stand-in processor module and its variants in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "loader/image_file.h"
#include "loader/loader_state.h"
#include "loader/module_image.h"
#include "loader/processor_table.h"
#include "tests/support/test_support.h"
#include "tools/processor_module/test_api.h"

using namespace Ixa;

namespace {

class Module {
 public:
  explicit Module(const char* name) : handle_(LoadLibraryA(name)) {}
  ~Module() {
    UnbindProcessorTable();
    if (handle_ != nullptr) FreeLibrary(handle_);
  }
  HMODULE get() const { return handle_; }

 private:
  HMODULE handle_;
};

void ConfigureVersion(HMODULE module, int32_t version) {
  auto configure = reinterpret_cast<TestConfigureFn>(reinterpret_cast<void*>(GetProcAddress(module, "TestConfigure")));
  const int32_t nodes[] = {1};
  const int32_t ports[] = {0};
  configure(nodes, ports, 1, version, 0);
}

// Every slot in the table's order, with the export it must hold.
std::vector<std::pair<const char*, void*>> Slots() {
  const ProcessorTable& t = Loader().table;
  return {{"GetNumPorts", reinterpret_cast<void*>(t.GetNumPorts.load())},
          {"GetNumChannels", reinterpret_cast<void*>(t.GetNumChannels.load())},
          {"GetPortBuffer", reinterpret_cast<void*>(t.GetPortBuffer.load())},
          {"LaunchOBExt", reinterpret_cast<void*>(t.LaunchOBExt.load())},
          {"GetAvailableNodes", reinterpret_cast<void*>(t.GetAvailableNodes.load())},
          {"ConnectToNode", reinterpret_cast<void*>(t.ConnectToNode.load())},
          {"DisconnectFromNode", reinterpret_cast<void*>(t.DisconnectFromNode.load())},
          {"ShutdownOB", reinterpret_cast<void*>(t.ShutdownOB.load())},
          {"SetStatusCallback", reinterpret_cast<void*>(t.SetStatusCallback.load())},
          {"StartPatchOperation", reinterpret_cast<void*>(t.StartPatchOperation.load())},
          {"SendPatch", reinterpret_cast<void*>(t.SendPatch.load())},
          {"FinishPatchOperation", reinterpret_cast<void*>(t.FinishPatchOperation.load())},
          {"ClearPatchFromOB", reinterpret_cast<void*>(t.ClearPatchFromOB.load())},
          {"SendMIDICommands", reinterpret_cast<void*>(t.SendMIDICommands.load())},
          {"GetLoaderVersion", reinterpret_cast<void*>(t.GetLoaderVersion.load())},
          {"ChangeUserNum", reinterpret_cast<void*>(t.ChangeUserNum.load())}};
}

void ExpectEverySlotHoldsItsExport(HMODULE module) {
  for (const auto& [name, slot] : Slots()) {
    void* entry = reinterpret_cast<void*>(GetProcAddress(module, name));
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(slot, entry) << name;
  }
}

TEST(ProcessorBinding, CompleteModuleFillsEverySlot) {
  Module module("processor_module.dll");
  ASSERT_NE(module.get(), nullptr);
  EXPECT_TRUE(BindProcessorTable(module.get()));
  ExpectEverySlotHoldsItsExport(module.get());
  UnbindProcessorTable();
  for (const auto& [name, slot] : Slots()) EXPECT_EQ(slot, nullptr) << name;
}

TEST(ProcessorBinding, ModuleMissingOneEntryPointIsRefused) {
  Module module("processor_module_missing_entry.dll");
  ASSERT_NE(module.get(), nullptr);
  EXPECT_FALSE(BindProcessorTable(module.get()));
  // Names after the missing one were still looked up.
  EXPECT_NE(Loader().table.ChangeUserNum.load(), nullptr);
  EXPECT_EQ(Loader().table.DisconnectFromNode.load(), nullptr);
}

TEST(ProcessorBinding, NoModuleHandleTouchesNothing) {
  Module module("processor_module.dll");
  ASSERT_TRUE(BindProcessorTable(module.get()));
  EXPECT_FALSE(BindProcessorTable(nullptr));
  ExpectEverySlotHoldsItsExport(module.get());
}

TEST(ProcessorBinding, LoaderVersionGateAcceptsUpTo310) {
  Module module("processor_module.dll");
  ASSERT_TRUE(BindProcessorTable(module.get()));
  for (int32_t version : {310, 0, -5}) {
    ConfigureVersion(module.get(), version);
    LoaderVersionCheck check = CheckLoaderVersion();
    EXPECT_TRUE(check.accepted) << version;
    EXPECT_EQ(check.required, version);
  }
  ConfigureVersion(module.get(), 311);
  EXPECT_FALSE(CheckLoaderVersion().accepted);

  Module newer("processor_module_v311.dll");
  ASSERT_TRUE(BindProcessorTable(newer.get()));
  EXPECT_EQ(CheckLoaderVersion().required, 311);
}

TEST(ProcessorBinding, ChangeUserNumberWithoutAModuleDoesNothing) {
  UnbindProcessorTable();
  EXPECT_EQ(ChangeUserNumber(4), 0);
}

TEST(ProcessorBinding, ChangeUserNumberReachesTheModule) {
  Module module("processor_module.dll");
  ASSERT_TRUE(BindProcessorTable(module.get()));
  ChangeUserNumber(4);
  auto callLog = reinterpret_cast<TestCallLogFn>(reinterpret_cast<void*>(GetProcAddress(module.get(), "TestCallLog")));
  char log[1024];
  callLog(log, sizeof(log));
  EXPECT_NE(std::string(log).find("ChangeUserNum(4)"), std::string::npos) << log;
}

TEST(ImagePath, AFolderOfThisProcessUnderTheTemporaryFolderThatFitsExactly) {
  char probe[MAX_PATH];
  DWORD length = GetTempPathA(sizeof(probe), probe);
  ASSERT_GT(length, 0u);
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string first = std::string(probe) + "IxaLoader-" + pid + "\\Ixa.dll";

  std::string buffer(first.size() + 1, 'x');
  ASSERT_TRUE(MakeImagePath(&buffer[0], buffer.size(), 0));
  EXPECT_EQ(std::string(buffer.c_str()), first);
  std::string tooSmall(first.size(), 'x');
  EXPECT_FALSE(MakeImagePath(&tooSmall[0], tooSmall.size(), 0));
  char tiny[4];
  EXPECT_FALSE(MakeImagePath(tiny, sizeof(tiny), 0));

  char later[MAX_PATH];
  ASSERT_TRUE(MakeImagePath(later, sizeof(later), 3));
  EXPECT_EQ(std::string(later), std::string(probe) + "IxaLoader-" + pid + "-3\\Ixa.dll");
}

}  // namespace

namespace {

std::vector<uint8_t> FileBytes(const char* name) {
  const std::string bytes = testing_support::FileBytes(name);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Where the file header of an image's bytes starts.
size_t FileHeaderAt(const std::vector<uint8_t>& image) {
  return reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew + sizeof(DWORD);
}

}  // namespace

// What an image is checked for before it is written anywhere: no read
// strays outside the bytes, whatever the headers claim.
TEST(ModuleImageCheck, FindsTheEntryPointsOfAWholeDllAndRefusesAnythingElse) {
  const std::vector<uint8_t> whole = FileBytes("processor_module.dll");
  ASSERT_GT(whole.size(), 4096u);
  const size_t header = FileHeaderAt(whole);
  const auto withFileHeader = [&](auto change) {
    std::vector<uint8_t> image = whole;
    change(reinterpret_cast<IMAGE_FILE_HEADER*>(image.data() + header));
    return image;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool isDll;
    int entryPoints;
  } rows[] = {
      {"the stand-in module", whole, true, 16},
      {"without DisconnectFromNode", FileBytes("processor_module_missing_entry.dll"), true, 15},
      {"the first kilobyte", std::vector<uint8_t>(whole.begin(), whole.begin() + 1024), false, 0},
      {"two bytes", {'M', 'Z'}, false, 0},
      {"a program, not a library", withFileHeader([](IMAGE_FILE_HEADER* f) { f->Characteristics &= ~IMAGE_FILE_DLL; }),
       false, 0},
      {"97 sections", withFileHeader([](IMAGE_FILE_HEADER* f) { f->NumberOfSections = 97; }), false, 0},
  };
  for (const auto& row : rows) {
    ModuleImage image;
    EXPECT_EQ(ReadModuleImage(row.bytes.data(), row.bytes.size(), &image), row.isDll) << row.name;
    if (!row.isDll) continue;
    EXPECT_EQ(image.machine, ThisMachine()) << row.name;
    EXPECT_EQ(image.EntryPointCount(), row.entryPoints) << row.name;
    EXPECT_EQ(image.HasEveryEntryPoint(), row.entryPoints == 16) << row.name;
  }
}
