#include "os/win32/osregistry.h"

#include <vector>

#include "os/win32/unique_registry_key.h"

namespace Os {
namespace {

constexpr DWORD kFirstBufferChars = 260;

void CheckPathLength(const std::wstring& path) {
  if (path.size() > Registry::kMaxKeyPath) {
    throw RegKeyPathSizeException(L"registry key path longer than 254 characters: " + path);
  }
}

// Opens an existing key for a read; none when there is no such key.
UniqueRegistryKey OpenForRead(HKEY root, const std::wstring& path) {
  if (root == nullptr || path.empty()) return {};
  if (!Registry::KeyExists(root, path)) return {};
  UniqueRegistryKey key = OpenRegistryKey(root, path.c_str(), KEY_READ);
  if (!key) throw RegOpenKeyException(L"registry key cannot be opened for reading: " + path);
  return key;
}

}  // namespace

bool Registry::KeyExists(HKEY root, const std::wstring& path) {
  CheckPathLength(path);
  return static_cast<bool>(OpenRegistryKey(root, path.c_str(), KEY_READ));
}

bool Registry::ReadString(HKEY root, const std::wstring& path, const std::wstring& value, std::wstring* out) {
  UniqueRegistryKey key = OpenForRead(root, path);
  if (!key) return false;
  std::vector<wchar_t> buffer(kFirstBufferChars, L'\0');
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  LONG result =
      RegQueryValueExW(key.get(), value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  if (result == ERROR_MORE_DATA) {
    // One character more than reported, so the text always ends in a null.
    buffer.assign(bytes + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    result =
        RegQueryValueExW(key.get(), value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  }
  if (result != ERROR_SUCCESS) {
    out->clear();
    return false;
  }
  buffer.back() = L'\0';
  *out = buffer.data();
  return true;
}

bool Registry::ReadStrings(HKEY root, const std::wstring& path, const std::wstring& value,
                           std::vector<std::wstring>* out) {
  constexpr DWORD kMaxBytes = 64 * 1024;
  out->clear();
  UniqueRegistryKey key = OpenForRead(root, path);
  if (!key) return false;
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || bytes > kMaxBytes) {
    return false;
  }
  // Room for two terminators more than stored: the value need not end in them.
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return false;
  }
  const size_t stored = bytes / sizeof(wchar_t);
  for (size_t at = 0; at < stored;) {
    const std::wstring entry(buffer.data() + at);
    if (!entry.empty()) out->push_back(entry);
    at += entry.size() + 1;
  }
  return true;
}

bool Registry::ReadDword(HKEY root, const std::wstring& path, const std::wstring& value, uint32_t* out) {
  UniqueRegistryKey key = OpenForRead(root, path);
  if (!key) return false;
  DWORD data = 0;
  DWORD bytes = sizeof(data);
  if (RegQueryValueExW(key.get(), value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &bytes) !=
      ERROR_SUCCESS) {
    return false;
  }
  *out = data;
  return true;
}

}  // namespace Os
