#include "tools/probe/stored_port.h"

#include <windows.h>

#include "ui/registry_key.h"

namespace {

constexpr uint32_t kDefaultPort = 6600;

}  // namespace

uint32_t StoredPort() {
  // Opened with the rights the loader asks for: where it is refused, the
  // loader runs on the default too.
  Ui::RegistryKey software, company, product;
  software.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ);
  company.Open(software.get(), "Quennel Systems", KEY_READ);
  product.Open(company.get(), "Corvane III Orb", KEY_READ | KEY_SET_VALUE);
  if (!product.IsOpen()) return kDefaultPort;
  DWORD port = 0;
  DWORD size = sizeof(port);
  if (RegQueryValueExA(product.get(), "port", nullptr, nullptr, reinterpret_cast<BYTE*>(&port), &size) !=
          ERROR_SUCCESS ||
      size != sizeof(port)) {
    return kDefaultPort;
  }
  return port;
}
