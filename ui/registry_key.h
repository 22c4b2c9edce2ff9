#pragma once

#include <utility>

#include <windows.h>

namespace Ui {

// Sole owner of an open registry key; empty ("none") when closed.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens name under parent; on failure the key stays none. Opening under a
  // none parent fails like any other refused open.
  void Open(HKEY parent, const char* name, REGSAM access) {
    Close();
    if (parent == nullptr) return;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(parent, name, 0, access, &opened) == ERROR_SUCCESS) key_ = opened;
  }
  void Close() {
    if (key_ != nullptr) RegCloseKey(std::exchange(key_, nullptr));
  }
  HKEY get() const { return key_; }
  bool IsOpen() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace Ui
