#include "os/win32/debughelp.h"

#include <cstdint>
#include <memory>
#include <string>

#include <psapi.h>

#include "os/win32/unique_library.h"

namespace Os {
namespace {

HMODULE gLibrary = nullptr;
DebugHelp gEntries{};
bool gSymbolsReady = false;

template <typename Function>
void Resolve(HMODULE library, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// By full path from the system folder: a bare name would search the
// application's folder and the current one first, where anyone may have put
// a dbghelp.dll. The altered search resolves its own imports from there too.
// (LOAD_LIBRARY_SEARCH_SYSTEM32 is missing on a Windows 7 without updates.)
HMODULE LoadFromSystemFolder() {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path = std::wstring(folder, length) + L"\\dbghelp.dll";
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool ResolveEntries(HMODULE library, DebugHelp* e) {
  Resolve(library, "SymInitialize", &e->SymInitialize);
  Resolve(library, "SymCleanup", &e->SymCleanup);
  Resolve(library, "StackWalk64", &e->StackWalk64);
  Resolve(library, "SymGetOptions", &e->SymGetOptions);
  Resolve(library, "SymSetOptions", &e->SymSetOptions);
  Resolve(library, "SymFunctionTableAccess64", &e->SymFunctionTableAccess64);
  Resolve(library, "SymGetLineFromAddr64", &e->SymGetLineFromAddr64);
  Resolve(library, "SymGetModuleBase64", &e->SymGetModuleBase64);
  Resolve(library, "SymGetModuleInfo64", &e->SymGetModuleInfo64);
  Resolve(library, "SymGetSymFromAddr64", &e->SymGetSymFromAddr64);
  Resolve(library, "UnDecorateSymbolName", &e->UnDecorateSymbolName);
  Resolve(library, "SymLoadModule64", &e->SymLoadModule64);
  Resolve(library, "SymGetSearchPath", &e->SymGetSearchPath);
  // Line lookup and the search path are optional.
  return e->SymCleanup && e->SymFunctionTableAccess64 && e->SymGetModuleBase64 && e->SymGetModuleInfo64 &&
         e->SymGetOptions && e->SymGetSymFromAddr64 && e->SymInitialize && e->SymSetOptions && e->StackWalk64 &&
         e->UnDecorateSymbolName && e->SymLoadModule64;
}

}  // namespace

CriticalSection& DebugHelpLock() {
  // Never destroyed: captures may run during process exit.
  static CriticalSection* lock = new CriticalSection();
  return *lock;
}

const DebugHelp& DebugHelpEntries() { return gEntries; }

bool LoadDebugHelp() {
  Key key(DebugHelpLock());
  if (gLibrary != nullptr) return true;
  UniqueLibrary library(LoadFromSystemFolder());
  if (!library) return false;
  DebugHelp entries{};
  if (!ResolveEntries(library.get(), &entries)) return false;
  gEntries = entries;
  gLibrary = library.release();
  gEntries.SymInitialize(GetCurrentProcess(), nullptr, FALSE);
  // Line information, and no error boxes for unreadable modules.
  gEntries.SymSetOptions(gEntries.SymGetOptions() | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS);
  return true;
}

bool LoadModuleSymbols(HANDLE process) {
  using EnumModules = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
  using ModuleText = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  using ModuleInformation = BOOL(WINAPI*)(HANDLE, HMODULE, LPMODULEINFO, DWORD);

  UniqueLibrary psapi(LoadLibraryA("psapi.dll"));
  if (!psapi) return false;
  EnumModules enumModules;
  ModuleText fileName;
  ModuleText baseName;
  ModuleInformation information;
  Resolve(psapi.get(), "EnumProcessModules", &enumModules);
  Resolve(psapi.get(), "GetModuleFileNameExA", &fileName);
  Resolve(psapi.get(), "GetModuleBaseNameA", &baseName);
  Resolve(psapi.get(), "GetModuleInformation", &information);
  if (!enumModules || !fileName || !baseName || !information) return false;

  constexpr DWORD kBufferBytes = 8096;
  std::unique_ptr<HMODULE[]> modules(new HMODULE[kBufferBytes / sizeof(HMODULE)]);
  std::unique_ptr<char[]> imagePath(new char[kBufferBytes]);
  std::unique_ptr<char[]> moduleName(new char[kBufferBytes]);
  DWORD needed = 0;
  if (!enumModules(process, modules.get(), kBufferBytes, &needed) || needed > kBufferBytes ||
      needed < sizeof(HMODULE)) {
    return false;
  }
  Key key(DebugHelpLock());
  bool processed = false;
  for (DWORD i = 0; i < needed / sizeof(HMODULE); ++i) {
    MODULEINFO info{};
    information(process, modules[i], &info, sizeof(info));
    imagePath[0] = '\0';
    moduleName[0] = '\0';
    fileName(process, modules[i], imagePath.get(), kBufferBytes);
    baseName(process, modules[i], moduleName.get(), kBufferBytes);
    // Sign extension, as the symbol handler expects for 32-bit addresses.
    DWORD64 base = static_cast<DWORD64>(static_cast<int64_t>(reinterpret_cast<intptr_t>(info.lpBaseOfDll)));
    gEntries.SymLoadModule64(process, nullptr, imagePath.get(), moduleName.get(), base, info.SizeOfImage);
    processed = true;
  }
  return processed;
}

bool EnsureSymbols() {
  Key key(DebugHelpLock());
  if (gSymbolsReady) return true;
  if (!LoadDebugHelp()) return false;
  gSymbolsReady = LoadModuleSymbols(GetCurrentProcess());
  return gSymbolsReady;
}

}  // namespace Os
