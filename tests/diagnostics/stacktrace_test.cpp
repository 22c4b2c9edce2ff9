#include <windows.h>

#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "os/osstacktrace.h"
#include "os/win32/debughelp.h"

namespace {

__attribute__((noinline)) std::string NamedFrameOfOurs() {
  std::string text = Os::CurrentStackText();
  asm volatile("");  // keeps the call from becoming a tail call
  return text;
}

TEST(StackTrace, NamesAFunctionOfOurs) {
  std::string text = NamedFrameOfOurs();
  EXPECT_NE(text.find("NamedFrameOfOurs"), std::string::npos) << text;
  EXPECT_EQ(text.find("CaptureCurrentStack"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("[0x", 0), 0u) << text;
  EXPECT_LT(text.find("CurrentStackText"), text.find("NamedFrameOfOurs")) << text;
  EXPECT_EQ(text.rfind("[0x", 0), 0u) << text;
}

// A dbghelp.dll beside the executable, with a .local file asking for the
// executable's own copies, is not the one loaded.
TEST(StackTrace, DebugHelpComesFromTheSystemFolderOnly) {
  std::wstring exe = OwnExecutablePath();
  std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
  ASSERT_TRUE(CopyFileW((folder + L"processor_module.dll").c_str(), (folder + L"dbghelp.dll").c_str(), FALSE));
  CloseHandle(CreateFileW((exe + L".local").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  EXPECT_EQ(RunChild("debug-help-folder").exitCode, 0u);
  DeleteFileW((folder + L"dbghelp.dll").c_str());
  DeleteFileW((exe + L".local").c_str());
}

TEST(StackTrace, CapacityOneKeepsTheInnermostFrame) {
  Os::StackAddress addresses[2] = {0, 0xDEADBEEF};
  ASSERT_EQ(Os::CaptureStack(GetCurrentThreadId(), addresses, 1), 1u);
  EXPECT_EQ(addresses[1], 0xDEADBEEFu);
  std::string line = Os::FormatStackTrace(addresses, 1, 0);
  EXPECT_NE(line.find("CaptureStack"), std::string::npos) << line;
}

TEST(StackTrace, NullAddressAndFirstBeyondCount) {
  Os::StackAddress addresses[32];
  uint32_t count = Os::CaptureCurrentStack(addresses);
  ASSERT_GT(count, 2u);
  EXPECT_EQ(Os::FormatStackTrace(addresses, count, count), "");
  EXPECT_EQ(Os::FormatStackTrace(addresses, count, count + 5), "");
  EXPECT_EQ(Os::FormatStackTrace(addresses, 0, 0), "");
  EXPECT_FALSE(Os::SymbolizeAddresses(addresses, 0).has_value());
  Os::StackAddress zero = 0;
  EXPECT_EQ(Os::FormatStackTrace(&zero, 1, 0), "(null)\n");
}

TEST(StackTrace, FrameLineFormat) {
  Os::StackAddress addresses[32];
  uint32_t count = Os::CaptureCurrentStack(addresses);
  ASSERT_GT(count, 0u);
  std::optional<Os::FrameLines> lines = Os::SymbolizeAddresses(addresses, 1);
  ASSERT_TRUE(lines && (*lines)[0]);
  // As wide as a pointer: eight digits on i686.
  char prefix[32];
  std::snprintf(prefix, sizeof(prefix), "[0x%0*llx] ", static_cast<int>(2 * sizeof(void*)),
                static_cast<unsigned long long>(addresses[0]));
  EXPECT_EQ((*lines)[0]->rfind(prefix, 0), 0u) << *(*lines)[0];
  EXPECT_NE((*lines)[0]->find(" + 0x"), std::string::npos);
}

// Two functions back to back, each in a section that the linker places in
// name order: the first ends in a call that never returns, so its return
// address is the second's first byte.
extern "C" {
__attribute__((naked, noinline, section(".text$ixa_walk_1"))) void EndsInACallThatNeverReturns() {
  asm(".skip 11, 0xcc\n\tcall 1f\n1:");  // 16 bytes, the call last
  __builtin_unreachable();
}
__attribute__((naked, noinline, section(".text$ixa_walk_2"))) void StartsWhereThatCallReturns() { asm("ret"); }
}

TEST(StackTrace, AReturnAddressAtTheNextFunctionNamesTheCaller) {
  auto next = reinterpret_cast<Os::StackAddress>(&StartsWhereThatCallReturns);
  ASSERT_EQ(next, reinterpret_cast<Os::StackAddress>(&EndsInACallThatNeverReturns) + 16);
  Os::StackAddress addresses[2] = {next, next};
  std::optional<Os::FrameLines> lines = Os::SymbolizeAddresses(addresses, 2);
  ASSERT_TRUE(lines && (*lines)[0] && (*lines)[1]);
  // Only the innermost entry is where its thread stands; the others are
  // return addresses.
  EXPECT_NE((*lines)[0]->find("] StartsWhereThatCallReturns + 0x0"), std::string::npos) << *(*lines)[0];
  EXPECT_NE((*lines)[1]->find("] EndsInACallThatNeverReturns + 0x10"), std::string::npos) << *(*lines)[1];
}

std::atomic<bool> gParked{false};
std::atomic<bool> gRelease{false};

__attribute__((noinline)) void ParkedInANamedFunction() {
  gParked = true;
  while (!gRelease) Sleep(1);
}

DWORD WINAPI ParkedThread(void*) {
  ParkedInANamedFunction();
  return 0;
}

TEST(StackTrace, CapturesAnotherThread) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ParkedThread, nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  while (!gParked) Sleep(1);
  Os::StackAddress addresses[32];
  uint32_t count = Os::CaptureStack(id, addresses, 32);
  gRelease = true;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  std::string text = Os::FormatStackTrace(addresses, count, 0);
  EXPECT_NE(text.find("ParkedInANamedFunction"), std::string::npos) << text;
}

// The address of DllMain in a loaded module, found through the COFF symbol
// table of its file (DllMain is no export); 0 when absent.
Os::StackAddress DllMainOf(HMODULE module) {
  wchar_t path[MAX_PATH];
  if (GetModuleFileNameW(module, path, MAX_PATH) == 0) return 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::string image(GetFileSize(file, nullptr), '\0');
  DWORD got = 0;
  ReadFile(file, &image[0], static_cast<DWORD>(image.size()), &got, nullptr);
  CloseHandle(file);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image.data() + dos->e_lfanew);
  auto sections = IMAGE_FIRST_SECTION(nt);
  const char* symbols = image.data() + nt->FileHeader.PointerToSymbolTable;
  const char* strings = symbols + nt->FileHeader.NumberOfSymbols * IMAGE_SIZEOF_SYMBOL;
  const std::string wanted = sizeof(void*) == 4 ? "_DllMain@12" : "DllMain";
  for (DWORD i = 0; i < nt->FileHeader.NumberOfSymbols; ++i) {
    auto symbol = reinterpret_cast<const IMAGE_SYMBOL*>(symbols + i * IMAGE_SIZEOF_SYMBOL);
    std::string name = symbol->N.Name.Short != 0
                           ? std::string(reinterpret_cast<const char*>(symbol->N.ShortName),
                                         strnlen(reinterpret_cast<const char*>(symbol->N.ShortName), 8))
                           : std::string(strings + symbol->N.Name.Long);
    if (name == wanted && symbol->SectionNumber > 0) {
      return reinterpret_cast<Os::StackAddress>(module) + sections[symbol->SectionNumber - 1].VirtualAddress +
             symbol->Value;
    }
    i += symbol->NumberOfAuxSymbols;
  }
  return 0;
}

// The library as it ships: no DWARF inside, IxaLoader.dll.debug beside it
// through the debug link. A function that is no export must still be named.
TEST(StackTrace, NamesAFunctionOfTheShippedLibrary) {
  HMODULE dll = LoadLibraryW(L"IxaLoader.dll");
  ASSERT_NE(dll, nullptr);
  Os::StackAddress dllMain = DllMainOf(dll);
  ASSERT_NE(dllMain, 0u);
  dllMain += 4;  // inside it, as a return address would be
  // Symbols may have been read before the library came in.
  ASSERT_TRUE(Os::EnsureSymbols());
  Os::LoadModuleSymbols(GetCurrentProcess());
  std::string text = Os::FormatStackTrace(&dllMain, 1, 0);
  FreeLibrary(dll);
  EXPECT_NE(text.find("] DllMain + 0x4"), std::string::npos) << text;
}

TEST(StackTrace, UnknownThreadGivesNothing) {
  Os::StackAddress addresses[4];
  EXPECT_EQ(Os::CaptureStack(0xFFFFFFF0u, addresses, 4), 0u);
}

}  // namespace
