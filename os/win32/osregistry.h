#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "kellib/exception.h"

namespace Os {

class RegistryException : public kel::exception {
 public:
  using kel::exception::exception;
  ~RegistryException() override = default;
};

// A key that exists cannot be opened for reading.
class RegOpenKeyException : public RegistryException {
 public:
  using RegistryException::RegistryException;
};

// A key path longer than the 254 characters the reader accepts.
class RegKeyPathSizeException : public RegistryException {
 public:
  using RegistryException::RegistryException;
};

// Read-only access to registry values under an open root key.
class Registry {
 public:
  static constexpr size_t kMaxKeyPath = 254;

  // Throws RegKeyPathSizeException for a path that is too long.
  static bool KeyExists(HKEY root, const std::wstring& path);
  // False for a missing key (output unchanged) or value (output emptied).
  // Throws RegKeyPathSizeException, or RegOpenKeyException for a key that
  // exists but cannot be opened.
  static bool ReadString(HKEY root, const std::wstring& path, const std::wstring& value, std::wstring* out);
  // A REG_MULTI_SZ value of at most 64 KiB as its strings, empty ones
  // skipped. False, with the output emptied, for a missing key or value or
  // one of another type or size.
  static bool ReadStrings(HKEY root, const std::wstring& path, const std::wstring& value,
                          std::vector<std::wstring>* out);
  // As ReadString; the output is left unchanged on failure.
  static bool ReadDword(HKEY root, const std::wstring& path, const std::wstring& value, uint32_t* out);
};

}  // namespace Os
