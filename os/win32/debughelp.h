#pragma once

#include <windows.h>

#include <dbghelp.h>

#include "os/oslock.h"

namespace Os {

// The debug help library's entry points, resolved by name at run time.
struct DebugHelp {
  BOOL(WINAPI* SymInitialize)(HANDLE, PCSTR, BOOL);
  BOOL(WINAPI* SymCleanup)(HANDLE);
  BOOL(WINAPI* StackWalk64)
  (DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID, PREAD_PROCESS_MEMORY_ROUTINE64, PFUNCTION_TABLE_ACCESS_ROUTINE64,
   PGET_MODULE_BASE_ROUTINE64, PTRANSLATE_ADDRESS_ROUTINE64);
  DWORD(WINAPI* SymGetOptions)();
  DWORD(WINAPI* SymSetOptions)(DWORD);
  PVOID(WINAPI* SymFunctionTableAccess64)(HANDLE, DWORD64);
  BOOL(WINAPI* SymGetLineFromAddr64)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64);
  DWORD64(WINAPI* SymGetModuleBase64)(HANDLE, DWORD64);
  BOOL(WINAPI* SymGetModuleInfo64)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
  BOOL(WINAPI* SymGetSymFromAddr64)(HANDLE, DWORD64, PDWORD64, PIMAGEHLP_SYMBOL64);
  DWORD(WINAPI* UnDecorateSymbolName)(PCSTR, PSTR, DWORD, DWORD);
  DWORD64(WINAPI* SymLoadModule64)(HANDLE, HANDLE, PCSTR, PCSTR, DWORD64, DWORD);
  BOOL(WINAPI* SymGetSearchPath)(HANDLE, PSTR, DWORD);
};

// The debug help library is not safe for concurrent use: its loading and every
// call into it happen under this one process-wide lock. Recursive, so a holder
// may call the functions below.
CriticalSection& DebugHelpLock();

// The entry points once LoadDebugHelp succeeded; valid for the rest of the
// process. Call only while holding DebugHelpLock.
const DebugHelp& DebugHelpEntries();

// Loads the library from the system folder and initialises it, once; true when
// it is ready.
bool LoadDebugHelp();
// Registers every module of the process with the symbol handler; true when at
// least one module was processed.
bool LoadModuleSymbols(HANDLE process);
// LoadDebugHelp, then LoadModuleSymbols for this process, until it succeeds once.
bool EnsureSymbols();

}  // namespace Os
