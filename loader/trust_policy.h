#pragma once

// Whom the loader takes as a console, and which modules it runs. By
// default a reply is taken from loopback or from the network of one of the
// PC's own IPv4 interfaces, and every module that passes the image check
// runs. An administrator may narrow both under the local machine's key
// SOFTWARE\Quennel Systems\Corvane III Orb\Policy, which the loader only
// ever reads:
//   AllowedConsoles       REG_MULTI_SZ of "a.b.c.d" or "a.b.c.d/prefix":
//                         replaces the own-network rule;
//   TrustedModuleSha256   REG_MULTI_SZ of SHA-256 digests in hexadecimal:
//                         a module whose digest is not listed is refused.
// A value that is set but lists nothing usable allows nothing.

#include <cstdint>
#include <string>
#include <vector>

#include "loader/discovery_targets.h"
#include "os/win32/sha256.h"

namespace Ixa {

// Addresses in host byte order.
struct AddressRange {
  uint32_t address;
  uint32_t mask;
};

struct TrustPolicy {
  bool restrictsConsoles = false;
  std::vector<AddressRange> allowedConsoles;
  bool restrictsModules = false;
  std::vector<Os::Sha256Digest> trustedModules;
};

// Read anew for each attempt; an entry that cannot be read is logged and
// left out.
TrustPolicy ReadTrustPolicy();

// "10.0.0.5" (a /32) or "10.0.0.0/24".
bool ParseAddressRange(const std::string& text, AddressRange* range);
// 64 hexadecimal digits, either case.
bool ParseDigest(const std::string& text, Os::Sha256Digest* digest);

// Whether a discovery reply from sender (host byte order) may be taken.
bool IsConsoleAllowed(uint32_t sender, const std::vector<InterfaceAddress>& interfaces, const TrustPolicy& policy);
bool IsModuleTrusted(const Os::Sha256Digest& digest, const TrustPolicy& policy);

}  // namespace Ixa
