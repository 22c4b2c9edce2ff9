#include "tools/probe/stored_port.h"

#include <windows.h>

#include "os/win32/unique_registry_key.h"

namespace {

constexpr uint32_t kDefaultPort = 6600;

}  // namespace

uint32_t StoredPort() {
  // As the 32-bit library reads it, whichever this probe is: the 32-bit
  // view, for reading only, and only a REG_DWORD from 1 to 65535 counts.
  Os::UniqueRegistryKey product = Os::OpenRegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quennel Systems\\Corvane III Orb",
                                                      KEY_READ | KEY_WOW64_32KEY);
  if (!product) return kDefaultPort;
  DWORD port = 0;
  DWORD type = 0;
  DWORD size = sizeof(port);
  if (RegQueryValueExA(product.get(), "port", nullptr, &type, reinterpret_cast<BYTE*>(&port), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(port) || port < 1 || port > 65535) {
    return kDefaultPort;
  }
  return port;
}
