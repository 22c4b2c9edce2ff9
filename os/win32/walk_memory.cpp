#include "os/win32/walk_memory.h"

#include <cstring>

namespace Os {
namespace {

using LockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
using UnlockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);
constexpr ULONG kTryOnly = 2;
constexpr ULONG kAcquired = 1;

struct LoaderLockEntries {
  LockLoaderLock lock;
  UnlockLoaderLock unlock;
};

template <typename Function>
Function Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const LoaderLockEntries& LoaderLock() {
  static const LoaderLockEntries entries = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return LoaderLockEntries{Resolve<LockLoaderLock>(ntdll, "LdrLockLoaderLock"),
                             Resolve<UnlockLoaderLock>(ntdll, "LdrUnlockLoaderLock")};
  }();
  return entries;
}

// Committed and readable, without a guard page that a read would trip.
bool Readable(const MEMORY_BASIC_INFORMATION& info) {
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  return info.State == MEM_COMMIT && (info.Protect & kReadable) != 0 && (info.Protect & PAGE_GUARD) == 0;
}

bool Within(const MEMORY_BASIC_INFORMATION& region, uintptr_t address, DWORD size) {
  auto low = reinterpret_cast<uintptr_t>(region.BaseAddress);
  return address >= low && address - low < region.RegionSize && size <= region.RegionSize - (address - low);
}

// Guarded by DebugHelpLock, as the walk itself.
WalkMemory* gWalk = nullptr;

}  // namespace

WalkMemory::WalkMemory(uintptr_t stackPointer) {
  // The committed region around the stack pointer runs up to the stack's
  // base: the frames still to be walked.
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(stackPointer), &info, sizeof(info)) == sizeof(info) &&
      Readable(info)) {
    stack_ = info;
  }
  const LoaderLockEntries& loader = LoaderLock();
  ULONG disposition = 0;
  holdsLoaderLock_ = loader.lock != nullptr && loader.unlock != nullptr &&
                     loader.lock(kTryOnly, &disposition, &loaderLockCookie_) >= 0 && disposition == kAcquired;
  gWalk = this;
}

WalkMemory::~WalkMemory() {
  gWalk = nullptr;
  if (holdsLoaderLock_) LoaderLock().unlock(0, loaderLockCookie_);
}

bool WalkMemory::CopiesDirectly(uintptr_t address, DWORD size) const {
  if (Within(stack_, address, size)) return true;
  if (!holdsLoaderLock_) return false;
  MEMORY_BASIC_INFORMATION info;
  return VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof(info)) == sizeof(info) &&
         info.Type == MEM_IMAGE && Readable(info) && Within(info, address, size);
}

BOOL CALLBACK WalkMemory::Read(HANDLE process, DWORD64 base, PVOID buffer, DWORD size, LPDWORD read) {
  auto address = static_cast<uintptr_t>(base);
  if (gWalk != nullptr && gWalk->CopiesDirectly(address, size)) {
    std::memcpy(buffer, reinterpret_cast<const void*>(address), size);
    *read = size;
    return TRUE;
  }
  SIZE_T copied = 0;
  BOOL ok = ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer, size, &copied);
  *read = static_cast<DWORD>(copied);
  return ok;
}

}  // namespace Os
