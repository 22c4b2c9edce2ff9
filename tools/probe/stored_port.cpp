#include "tools/probe/stored_port.h"

#include <windows.h>

#include "os/win32/unique_registry_key.h"

namespace {

constexpr uint32_t kDefaultPort = 6600;

}  // namespace

uint32_t StoredPort() {
  // Opened with the rights the loader asks for: where it is refused, the
  // loader runs on the default too.
  Os::UniqueRegistryKey software = Os::OpenRegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ);
  Os::UniqueRegistryKey company = Os::OpenRegistryKey(software.get(), L"Quennel Systems", KEY_READ);
  Os::UniqueRegistryKey product =
      Os::OpenRegistryKey(company.get(), L"Corvane III Orb", KEY_READ | KEY_SET_VALUE);
  if (!product) return kDefaultPort;
  DWORD port = 0;
  DWORD size = sizeof(port);
  if (RegQueryValueExA(product.get(), "port", nullptr, nullptr, reinterpret_cast<BYTE*>(&port), &size) !=
          ERROR_SUCCESS ||
      size != sizeof(port)) {
    return kDefaultPort;
  }
  return port;
}
