#pragma once

#include <windows.h>

#include "os/win32/unique_resource.h"

namespace Os {

// An open registry key.
using UniqueRegistryKey = UniqueResource<CloseTraits<HKEY, RegCloseKey>>;

// Opens path under parent; none when the open is refused or parent is none,
// so that a chain of opens fails from its first missing level on.
inline UniqueRegistryKey OpenRegistryKey(HKEY parent, const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  if (parent == nullptr || RegOpenKeyExW(parent, path, 0, access, &key) != ERROR_SUCCESS) return {};
  return UniqueRegistryKey(key);
}

}  // namespace Os
