#include "os/win32/osregistry.h"

#include <memory>
#include <vector>

namespace Os {
namespace {

constexpr DWORD kFirstBufferChars = 260;

void CheckPathLength(const std::wstring& path) {
  if (path.size() > Registry::kMaxKeyPath) {
    throw RegKeyPathSizeException(L"registry key path longer than 254 characters: " + path);
  }
}

// Owns an open key.
class OpenKey {
 public:
  OpenKey(HKEY root, const std::wstring& path) {
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Opens an existing key for a read; null when there is no such key.
bool OpenForRead(HKEY root, const std::wstring& path, std::unique_ptr<OpenKey>* key) {
  if (root == nullptr || path.empty()) return false;
  if (!Registry::KeyExists(root, path)) return false;
  *key = std::make_unique<OpenKey>(root, path);
  if ((*key)->get() == nullptr) {
    throw RegOpenKeyException(L"registry key cannot be opened for reading: " + path);
  }
  return true;
}

}  // namespace

bool Registry::KeyExists(HKEY root, const std::wstring& path) {
  CheckPathLength(path);
  return OpenKey(root, path).get() != nullptr;
}

bool Registry::ReadString(HKEY root, const std::wstring& path, const std::wstring& value,
                          std::wstring* out) {
  std::unique_ptr<OpenKey> key;
  if (!OpenForRead(root, path, &key)) return false;
  std::vector<wchar_t> buffer(kFirstBufferChars, L'\0');
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  LONG result = RegQueryValueExW(key->get(), value.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  if (result == ERROR_MORE_DATA) {
    // One character more than reported, so the text always ends in a null.
    buffer.assign(bytes + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    result = RegQueryValueExW(key->get(), value.c_str(), nullptr, nullptr,
                              reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  }
  if (result != ERROR_SUCCESS) {
    out->clear();
    return false;
  }
  buffer.back() = L'\0';
  *out = buffer.data();
  return true;
}

bool Registry::ReadDword(HKEY root, const std::wstring& path, const std::wstring& value,
                         uint32_t* out) {
  std::unique_ptr<OpenKey> key;
  if (!OpenForRead(root, path, &key)) return false;
  DWORD data = 0;
  DWORD bytes = sizeof(data);
  if (RegQueryValueExW(key->get(), value.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&data), &bytes) != ERROR_SUCCESS) {
    return false;
  }
  *out = data;
  return true;
}

}  // namespace Os
