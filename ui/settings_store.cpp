// The settings store of the status window: port, user number and patch as
// REG_DWORD values under HKLM\SOFTWARE\Quennel Systems\Corvane III Orb. The
// key is only ever opened, never created.
#include <cstdio>

#include "ui/config_dialog.h"
#include "ui/patch_table.h"

namespace {

constexpr const char* kPortValue = "port";
constexpr const char* kUserNumberValue = "Number";

// Names one of a row's three values, e.g. "DP_12".
struct RowValueName {
  RowValueName(const char* prefix, int row) { std::snprintf(text, sizeof(text), "%s_%d", prefix, row); }
  char text[32];
};

}  // namespace

void CIxaConfigDialog::OpenSettingsKey() {
  // A level that fails stays none, and every level below it fails too.
  settingsKeys_[0] = Os::OpenRegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ);
  settingsKeys_[1] = Os::OpenRegistryKey(settingsKeys_[0].get(), L"Quennel Systems", KEY_READ);
  settingsKeys_[2] =
      Os::OpenRegistryKey(settingsKeys_[1].get(), L"Corvane III Orb", KEY_READ | KEY_SET_VALUE);
}

void CIxaConfigDialog::CloseSettingsKey() {
  for (int level = 2; level >= 0; --level) settingsKeys_[level].reset();
}

// The stored type is not examined; a value of any other size than 4 bytes
// fails like a missing one.
bool CIxaConfigDialog::QueryValue(const char* name, uint32_t* value) {
  HKEY key = settingsKeys_[2].get();
  if (key == nullptr) return false;
  DWORD size = sizeof(*value);
  DWORD read = 0;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS) {
    return false;
  }
  if (size != sizeof(read)) return false;
  *value = read;
  return true;
}

bool CIxaConfigDialog::SetValue(const char* name, uint32_t value) {
  HKEY key = settingsKeys_[2].get();
  if (key == nullptr) return false;
  DWORD data = value;
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) ==
         ERROR_SUCCESS;
}

bool CIxaConfigDialog::ReadPort(uint32_t* port) {
  OpenSettingsKey();
  bool read = QueryValue(kPortValue, port);
  CloseSettingsKey();
  return read;
}

bool CIxaConfigDialog::WritePort(uint32_t port) {
  OpenSettingsKey();
  bool written = SetValue(kPortValue, port);
  CloseSettingsKey();
  return written;
}

bool CIxaConfigDialog::ReadUserNumber(uint32_t* userNumber) {
  OpenSettingsKey();
  bool read = QueryValue(kUserNumberValue, userNumber);
  CloseSettingsKey();
  return read;
}

bool CIxaConfigDialog::WriteUserNumber(uint32_t userNumber) {
  OpenSettingsKey();
  bool written = SetValue(kUserNumberValue, userNumber);
  CloseSettingsKey();
  return written;
}

bool CIxaConfigDialog::ReadPatchTable() {
  OpenSettingsKey();
  bool complete = true;
  PatchRow* table = PatchTable();
  for (int n = 0; n < kPatchRowCount; ++n) {
    uint32_t value;
    complete = QueryValue(RowValueName("DP", n).text, &value);
    if (!complete) break;
    table[n].dpIndex.store(static_cast<int32_t>(value));
    complete = QueryValue(RowValueName("UniverseEnabled", n).text, &value);
    if (!complete) break;
    table[n].enabled.store(value != 0 ? 1 : 0);
    complete = QueryValue(RowValueName("Patch", n).text, &value);
    if (!complete) break;
    table[n].universe.store(static_cast<int32_t>(value));
  }
  CloseSettingsKey();
  return complete;
}

bool CIxaConfigDialog::WritePatchTable() {
  OpenSettingsKey();
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
