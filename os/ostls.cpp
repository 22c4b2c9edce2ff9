#include "os/ostls.h"

#include <windows.h>

#include "os/ostrap.h"

namespace Os {

TlsKey::TlsKey() : pKey(std::make_unique<uint32_t>(TlsAlloc())) {
  OS_TRAP_IF(*pKey == TLS_OUT_OF_INDEXES, "os\\ostls", 69);
}

TlsKey::~TlsKey() {
  BOOL retval = TlsFree(*pKey);
  OS_TRAP_IF(retval == 0, "os\\ostls", 100);
}

void TlsKey::Set(void* value) {
  BOOL retval = TlsSetValue(*pKey, value);
  OS_TRAP_IF(retval == 0, "os\\ostls", 137);
}

void* TlsKey::Get() const { return TlsGetValue(*pKey); }

}  // namespace Os
