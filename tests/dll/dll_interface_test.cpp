// The library as a host sees it from outside: its export and import tables
// and the calling convention of its exports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "IxaLoader.h"

namespace {

// A PE file read whole, with RVAs mapped to file offsets through its sections.
class PeFile {
 public:
  explicit PeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    nt_ = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes_.data() + dos->e_lfanew);
  }

  const IMAGE_NT_HEADERS& Nt() const { return *nt_; }

  template <typename T>
  const T* At(DWORD rva) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt_);
    for (int i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) {
        return reinterpret_cast<const T*>(bytes_.data() + section->PointerToRawData + (rva - section->VirtualAddress));
      }
    }
    return nullptr;
  }

  std::vector<std::string> ExportNames() const {
    std::vector<std::string> names;
    DWORD rva = nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    auto* exports = At<IMAGE_EXPORT_DIRECTORY>(rva);
    const DWORD* nameRvas = At<DWORD>(exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.push_back(At<char>(nameRvas[i]));
    return names;
  }

  std::vector<std::string> ImportedLibraries() const {
    std::vector<std::string> names;
    DWORD rva = nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(rva); entry->Name != 0; ++entry) {
      std::string name = At<char>(entry->Name);
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      names.push_back(name);
    }
    return names;
  }

 private:
  std::vector<char> bytes_;
  const IMAGE_NT_HEADERS* nt_;
};

#if defined(__i386__)
constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
#else
constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

TEST(DllTables, IsALibraryForThisProcessorExportingExactlyTheTwelveUndecoratedNames) {
  PeFile dll("IxaLoader.dll");
  EXPECT_EQ(dll.Nt().FileHeader.Machine, kMachine);
  EXPECT_TRUE(dll.Nt().FileHeader.Characteristics & IMAGE_FILE_DLL);

  std::vector<std::string> names = dll.ExportNames();
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = {"ClearProgrammer",     "DeselectFixture",   "GetDMXBuffer",
                                       "KnockoutFixture",     "SelectFixture",     "SelectNone",
                                       "SetFixtureIntensity", "SetFixturePanTilt", "SetRunningCallback",
                                       "ShutdownOB",          "StartDetect",       "StartDetectExt"};
  EXPECT_EQ(names, expected);
}

// The list is shared with the test command's check of the i686 build.
std::set<std::string> AllowedImports() {
  std::set<std::string> names;
  std::ifstream in("allowed_imports.txt");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') names.insert(line);
  }
  return names;
}

TEST(DllTables, ImportsOnlyAllowedSystemLibraries) {
  const std::set<std::string> allowed = AllowedImports();
  ASSERT_FALSE(allowed.empty());
  for (const std::string& name : PeFile("IxaLoader.dll").ImportedLibraries()) {
    EXPECT_TRUE(allowed.count(name)) << name << " is not an allowed system library";
  }
}

#if defined(__i386__)
// x86_64 has one calling convention; on i686 the exports must be caller-cleans.

// Calls fn(args[0], args[1]) as the C convention does (the caller pops the
// arguments) and returns how far the callee itself moved the stack pointer:
// 0 for a caller-cleans function, 8 for a callee-cleans one.
int StackDriftOfCall(void* fn, const uint32_t* args) {
  int drift;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "pushl 4(%%edi)\n\t"
      "pushl (%%edi)\n\t"
      "calll *%%ebx\n\t"
      "leal 8(%%esp), %%eax\n\t"
      "subl %%esi, %%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "=&a"(drift)
      : "b"(fn), "D"(args)
      : "esi", "ecx", "edx", "memory", "cc");
  return drift;
}

TEST(DllTables, ExportsLeaveTheArgumentsToTheCaller) {
  HMODULE dll = LoadLibraryA("IxaLoader.dll");
  ASSERT_NE(dll, nullptr);
  unsigned char* buffer = nullptr;
  // Extra arguments are harmless under the caller-cleans convention.
  const uint32_t none[2] = {0, 0};
  const uint32_t fixture[2] = {1, 0};
  const uint32_t row[2] = {0, reinterpret_cast<uint32_t>(&buffer)};
  EXPECT_EQ(StackDriftOfCall(reinterpret_cast<void*>(GetProcAddress(dll, "SetRunningCallback")), none), 0);
  EXPECT_EQ(StackDriftOfCall(reinterpret_cast<void*>(GetProcAddress(dll, "SelectFixture")), fixture), 0);
  EXPECT_EQ(StackDriftOfCall(reinterpret_cast<void*>(GetProcAddress(dll, "GetDMXBuffer")), row), 0);
  EXPECT_NE(buffer, nullptr);
  auto shutdown = reinterpret_cast<IXA_PFN_ShutdownOB>(reinterpret_cast<void*>(GetProcAddress(dll, "ShutdownOB")));
  shutdown(1);
  FreeLibrary(dll);
}
#endif

}  // namespace
