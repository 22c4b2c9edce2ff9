#include "loader/trust_policy.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "kellib/text.h"
#include "loader/loader_log.h"
#include "os/win32/osregistry.h"

namespace Ixa {

namespace {

constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Quennel Systems\\Corvane III Orb\\Policy";
constexpr const char* kSource = "loader\\trust_policy";

constexpr uint32_t kLoopbackNetwork = 0x7F000000;
constexpr uint32_t kLoopbackMask = 0xFF000000;

// The value's entries, each parsed by parse; false when the value is not set.
template <typename Entry, typename Parse>
bool ReadList(const wchar_t* name, Parse&& parse, std::vector<Entry>* entries) {
  std::vector<std::wstring> texts;
  bool set = false;
  try {
    set = Os::Registry::ReadStrings(HKEY_LOCAL_MACHINE, kPolicyKey, name, &texts);
  } catch (const Os::RegistryException&) {
    // A policy that cannot be read restricts as one that lists nothing.
    WriteRecord(ModuleLog(), Os::Log::kError, kSource, "ReadTrustPolicy", __LINE__,
                "the policy key cannot be read; nothing is allowed");
    return true;
  }
  for (const std::wstring& text : texts) {
    Entry entry;
    const std::string narrow = kel::Narrow(text);
    if (parse(narrow, &entry)) {
      entries->push_back(entry);
    } else {
      WriteRecord(ModuleLog(), Os::Log::kWarning, kSource, "ReadTrustPolicy", __LINE__,
                  "policy entry left out: " + narrow);
    }
  }
  return set;
}

bool AllOf(const std::string& text, int (*is)(int)) {
  return std::all_of(text.begin(), text.end(), [&](char c) { return is(static_cast<unsigned char>(c)) != 0; });
}

bool ParseDecimal(const std::string& text, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 3 || !AllOf(text, &isdigit)) return false;
  *value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return *value <= max;
}

}  // namespace

bool ParseAddressRange(const std::string& text, AddressRange* range) {
  const size_t slash = text.find('/');
  const std::string dotted = text.substr(0, slash);
  uint32_t prefix = 32;
  if (slash != std::string::npos && !ParseDecimal(text.substr(slash + 1), 32, &prefix)) return false;
  uint32_t address = 0;
  size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = part < 3 ? dotted.find('.', start) : dotted.size();
    uint32_t octet = 0;
    if (dot == std::string::npos || !ParseDecimal(dotted.substr(start, dot - start), 255, &octet)) return false;
    address = address << 8 | octet;
    start = dot + 1;
  }
  range->mask = prefix == 0 ? 0 : ~0u << (32 - prefix);
  range->address = address & range->mask;
  return true;
}

bool ParseDigest(const std::string& text, Os::Sha256Digest* digest) {
  if (text.size() != 2 * digest->size() || !AllOf(text, &isxdigit)) return false;
  for (size_t i = 0; i < digest->size(); ++i) {
    (*digest)[i] = static_cast<uint8_t>(std::strtoul(text.substr(2 * i, 2).c_str(), nullptr, 16));
  }
  return true;
}

TrustPolicy ReadTrustPolicy() {
  TrustPolicy policy;
  policy.restrictsConsoles = ReadList(L"AllowedConsoles", &ParseAddressRange, &policy.allowedConsoles);
  policy.restrictsModules = ReadList(L"TrustedModuleSha256", &ParseDigest, &policy.trustedModules);
  return policy;
}

bool IsConsoleAllowed(uint32_t sender, const std::vector<InterfaceAddress>& interfaces, const TrustPolicy& policy) {
  const auto holds = [&](uint32_t network, uint32_t mask) { return ((sender ^ network) & mask) == 0; };
  if (policy.restrictsConsoles) {
    return std::any_of(policy.allowedConsoles.begin(), policy.allowedConsoles.end(),
                       [&](const AddressRange& range) { return holds(range.address, range.mask); });
  }
  if (holds(kLoopbackNetwork, kLoopbackMask)) return true;
  // An interface listed without a mask is no network to speak of.
  return std::any_of(interfaces.begin(), interfaces.end(), [&](const InterfaceAddress& entry) {
    return entry.mask != 0 && holds(entry.address, entry.mask);
  });
}

bool IsModuleTrusted(const Os::Sha256Digest& digest, const TrustPolicy& policy) {
  return !policy.restrictsModules ||
         std::find(policy.trustedModules.begin(), policy.trustedModules.end(), digest) != policy.trustedModules.end();
}

}  // namespace Ixa
