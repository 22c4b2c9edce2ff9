// The settings store of the status window: port, user number and patch as
// REG_DWORD values under HKLM\SOFTWARE\Quennel Systems\Corvane III Orb. The
// key is only ever opened, never created.
#include <cstdint>
#include <cstdio>

#include "ui/config_dialog.h"
#include "ui/patch_table.h"

namespace {

constexpr const char* kPortValue = "port";
constexpr const char* kUserNumberValue = "Number";
constexpr const char* kRetryValue = "RetryAfterFailure";

// Names one of a row's three values, e.g. "DP_12".
struct RowValueName {
  RowValueName(const char* prefix, int row) { std::snprintf(text, sizeof(text), "%s_%d", prefix, row); }
  char text[32];
};

}  // namespace

void CIxaConfigDialog::OpenSettingsKey(SettingsAccess access) {
  // A level that fails stays none, and every level below it fails too. The
  // key is opened for setting values only to write them, so a key that an
  // administrator made read-only is still read.
  settingsKeys_[0] = Os::OpenRegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ);
  settingsKeys_[1] = Os::OpenRegistryKey(settingsKeys_[0].get(), L"Quennel Systems", KEY_READ);
  settingsKeys_[2] = Os::OpenRegistryKey(settingsKeys_[1].get(), L"Corvane III Orb",
                                         access == SettingsAccess::Write ? KEY_READ | KEY_SET_VALUE : KEY_READ);
}

void CIxaConfigDialog::CloseSettingsKey() {
  for (int level = 2; level >= 0; --level) settingsKeys_[level].reset();
}

CIxaConfigDialog::Stored CIxaConfigDialog::QueryValue(const char* name, uint32_t lowest, uint32_t highest,
                                                      uint32_t* value) {
  HKEY key = settingsKeys_[2].get();
  if (key == nullptr) return Stored::Missing;
  DWORD type = 0;
  DWORD size = sizeof(*value);
  DWORD read = 0;
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size);
  if (result == ERROR_FILE_NOT_FOUND) return Stored::Missing;
  if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(read) || read < lowest || read > highest) {
    return Stored::Unusable;
  }
  *value = read;
  return Stored::Read;
}

bool CIxaConfigDialog::SetValue(const char* name, uint32_t value) {
  HKEY key = settingsKeys_[2].get();
  if (key == nullptr) return false;
  DWORD data = value;
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) == ERROR_SUCCESS;
}

bool CIxaConfigDialog::ReadPort(uint32_t* port) {
  OpenSettingsKey(SettingsAccess::Read);
  bool read = QueryValue(kPortValue, kLowestPort, kHighestPort, port) == Stored::Read;
  CloseSettingsKey();
  return read;
}

bool CIxaConfigDialog::WritePort(uint32_t port) {
  OpenSettingsKey(SettingsAccess::Write);
  bool written = SetValue(kPortValue, port);
  CloseSettingsKey();
  return written;
}

bool CIxaConfigDialog::ReadUserNumber(uint32_t* userNumber) {
  OpenSettingsKey(SettingsAccess::Read);
  bool read = QueryValue(kUserNumberValue, 0, UINT32_MAX, userNumber) == Stored::Read;
  CloseSettingsKey();
  return read;
}

bool CIxaConfigDialog::ReadRetryAfterFailure(uint32_t* retry) {
  OpenSettingsKey(SettingsAccess::Read);
  bool read = QueryValue(kRetryValue, 0, UINT32_MAX, retry) == Stored::Read;
  CloseSettingsKey();
  return read;
}

bool CIxaConfigDialog::WriteUserNumber(uint32_t userNumber) {
  OpenSettingsKey(SettingsAccess::Write);
  bool written = SetValue(kUserNumberValue, userNumber);
  CloseSettingsKey();
  return written;
}

bool CIxaConfigDialog::ReadPatchTable() {
  OpenSettingsKey(SettingsAccess::Read);
  bool complete = true;
  // One value of row n. A missing one ends the reading; one the Patch
  // dialog could not show gives that value alone its default, and reading
  // goes on. Either way the table is written back.
  const auto read = [&](const char* prefix, int n, uint32_t highest, int32_t fallback, uint32_t* value) {
    switch (QueryValue(RowValueName(prefix, n).text, 0, highest, value)) {
      case Stored::Read:
        return true;
      case Stored::Unusable:
        *value = static_cast<uint32_t>(fallback);
        complete = false;
        return true;
      case Stored::Missing:
        break;
    }
    complete = false;
    return false;
  };
  PatchRow* table = PatchTable();
  for (int n = 0; n < kPatchRowCount; ++n) {
    uint32_t value;
    if (!read("DP", n, kDpCount - 1, DefaultDpIndex(n), &value)) break;
    table[n].dpIndex.store(static_cast<int32_t>(value));
    if (!read("UniverseEnabled", n, UINT32_MAX, 1, &value)) break;
    table[n].enabled.store(value != 0 ? 1 : 0);
    if (!read("Patch", n, kUniversesPerDp - 1, DefaultUniverse(n), &value)) break;
    table[n].universe.store(static_cast<int32_t>(value));
  }
  CloseSettingsKey();
  return complete;
}

bool CIxaConfigDialog::WritePatchTable() {
  OpenSettingsKey(SettingsAccess::Write);
  bool complete = true;
  const PatchRow* table = PatchTable();
  for (int n = 0; n < kPatchRowCount && complete; ++n) {
    complete = SetValue(RowValueName("DP", n).text, static_cast<uint32_t>(table[n].dpIndex.load())) &&
               SetValue(RowValueName("UniverseEnabled", n).text, table[n].enabled.load() != 0 ? 1 : 0) &&
               SetValue(RowValueName("Patch", n).text, static_cast<uint32_t>(table[n].universe.load()));
  }
  CloseSettingsKey();
  return complete;
}
