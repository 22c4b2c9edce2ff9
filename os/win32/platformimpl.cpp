#include "os/win32/platformimpl.h"

#include <cwchar>
#include <memory>

#include <windows.h>

#include "kellib/text.h"
#include "os/osplatform.h"
#include "os/ostrap.h"
#include "os/win32/osregistry.h"

namespace Os {
namespace {

constexpr int32_t kThisProduct = 6;
const wchar_t kRunTimeKey[] = L"System\\CurrentControlSet\\Control\\WindowsEmbedded\\RunTimeID";
const wchar_t kProcessorKey[] = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
const wchar_t kConsoleKey[] = L"SOFTWARE\\Quennel Systems\\Console";

bool ReadVersion(unsigned long* major, unsigned long* minor) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);  // 276
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return false;
#pragma GCC diagnostic pop
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
  return true;
}

// Kept for the life of the process once complete; a read that throws takes
// the unfinished record with it.
const PlatformRecord* CreateRecord() {
  auto record = std::make_unique<PlatformRecord>();
  Registry::ReadString(HKEY_LOCAL_MACHINE, kRunTimeKey, L"RunTimeOEMRev", &record->oemRevision);
  Registry::ReadString(HKEY_LOCAL_MACHINE, kRunTimeKey, L"WEBuildDate", &record->buildDate);
  if (Registry::ReadString(HKEY_LOCAL_MACHINE, kProcessorKey, L"ProcessorNameString", &record->processor)) {
    kel::Trim(record->processor, L" ");
  }

  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);  // 64
  if (GlobalMemoryStatusEx(&memory)) record->physicalMemory = memory.ullTotalPhys;
  record->memoryText = MemoryText(record->physicalMemory);

  unsigned long major = 0;
  unsigned long minor = 0;
  bool known = ReadVersion(&major, &minor);
  record->operatingSystem = OperatingSystemName(known, major, minor);

  record->productType = kThisProduct;
  uint32_t compactMode = 0;
  try {
    Registry::ReadDword(HKEY_LOCAL_MACHINE, kConsoleKey, L"CompactMode", &compactMode);
  } catch (const RegistryException&) {
    // An unreadable setting means the normal mode.
  }
  record->compactMode = compactMode == 1;
  if (record->productType != kThisProduct) {
    OS_TRAP_IF("Unknown product type", "os\\win32\\platformimpl", 421);
  }
  return record.release();
}

const PlatformRecord& TheRecord() {
  // Created once even when two threads construct their first Platform at once.
  static const PlatformRecord* record = CreateRecord();
  return *record;
}

}  // namespace

std::wstring OperatingSystemName(bool known, unsigned long major, unsigned long minor) {
  if (!known) return L"Unknown";
  struct Entry {
    unsigned long major;
    unsigned long minor;
    const wchar_t* name;
  };
  static const Entry kNames[] = {
      {4, 0, L"Windows NT"}, {4, 10, L"Windows 98"},         {4, 90, L"Windows Me"},   {5, 0, L"Windows 2000"},
      {5, 1, L"Windows XP"}, {5, 2, L"Windows Server 2003"}, {6, 0, L"Windows Vista"}, {6, 1, L"Windows 7"},
  };
  for (const Entry& entry : kNames) {
    if (entry.major == major && entry.minor == minor) return entry.name;
  }
  wchar_t text[64];
  std::swprintf(text, 64, L"Windows %ld.%ld", static_cast<long>(major), static_cast<long>(minor));
  return text;
}

std::wstring MemoryText(uint64_t bytes) {
  wchar_t text[64];
  std::swprintf(text, 64, L"%llu MB", static_cast<unsigned long long>(bytes >> 20));
  return text;
}

Platform::Platform() { TheRecord(); }

int32_t Platform::GetProductType() const { return TheRecord().productType; }

const PlatformRecord& Platform::Record() const { return TheRecord(); }

std::wstring Platform::ProductName() const {
  return GetProductType() == kThisProduct ? L"Corvane III Orb" : L"Quennel Systems console";
}

}  // namespace Os
