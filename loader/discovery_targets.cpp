#include "loader/discovery_targets.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>

namespace Ixa {

int PrefixLength(uint32_t mask) {
  const uint32_t hostBits = ~mask;
  // The host part must be all ones below the network part.
  if ((hostBits & (hostBits + 1)) != 0) return -1;
  int prefix = 0;
  for (uint32_t bit = 0x80000000u; bit != 0 && (mask & bit) != 0; bit >>= 1) ++prefix;
  return prefix;
}

bool DirectedBroadcast(uint32_t address, uint32_t mask, uint32_t* broadcast) {
  const int prefix = PrefixLength(mask);
  // A /0 "subnet" would give the limited broadcast itself.
  if (prefix < 1 || prefix > 30) return false;
  *broadcast = address | ~mask;
  return true;
}

bool IsBroadcastInterface(uint32_t flags) {
  return (flags & IFF_UP) != 0 && (flags & IFF_BROADCAST) != 0 && (flags & IFF_LOOPBACK) == 0 &&
         (flags & IFF_POINTTOPOINT) == 0;
}

std::vector<BroadcastTarget> BroadcastTargets(const std::vector<InterfaceAddress>& interfaces) {
  std::vector<BroadcastTarget> targets;
  for (const InterfaceAddress& entry : interfaces) {
    uint32_t broadcast = 0;
    if (!IsBroadcastInterface(entry.flags) || !DirectedBroadcast(entry.address, entry.mask, &broadcast)) continue;
    // Two addresses in one subnet need one request, not two.
    if (std::any_of(targets.begin(), targets.end(),
                    [&](const BroadcastTarget& target) { return target.broadcast == broadcast; })) {
      continue;
    }
    targets.push_back({broadcast, entry.address, PrefixLength(entry.mask)});
  }
  return targets;
}

const InterfaceAddress* ArrivalInterface(const std::vector<InterfaceAddress>& interfaces, uint32_t destination,
                                         uint32_t sender) {
  for (const InterfaceAddress& entry : interfaces) {
    if (destination != 0 && entry.address == destination) return &entry;
  }
  for (const InterfaceAddress& entry : interfaces) {
    if ((entry.flags & IFF_UP) != 0 && ((entry.address ^ sender) & entry.mask) == 0) return &entry;
  }
  return nullptr;
}

std::string DottedAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                address & 0xFF);
  return text;
}

std::string DescribeInterface(uint32_t address, int prefix) {
  return DottedAddress(address) + "/" + std::to_string(prefix);
}

bool ListInterfaceAddresses(SOCKET socket, std::vector<InterfaceAddress>* interfaces) {
  interfaces->clear();
  // Grown while the system says the list does not fit; a PC has a handful.
  std::vector<INTERFACE_INFO> list(16);
  DWORD bytes = 0;
  while (WSAIoctl(socket, SIO_GET_INTERFACE_LIST, nullptr, 0, list.data(),
                  static_cast<DWORD>(list.size() * sizeof(INTERFACE_INFO)), &bytes, nullptr, nullptr) != 0) {
    if (WSAGetLastError() != WSAEFAULT || list.size() >= 1024) return false;
    list.resize(list.size() * 4);
  }
  const size_t count = std::min<size_t>(bytes / sizeof(INTERFACE_INFO), list.size());
  for (size_t i = 0; i < count; ++i) {
    const INTERFACE_INFO& entry = list[i];
    if (entry.iiAddress.Address.sa_family != AF_INET) continue;
    interfaces->push_back({ntohl(entry.iiAddress.AddressIn.sin_addr.s_addr),
                           ntohl(entry.iiNetmask.AddressIn.sin_addr.s_addr), static_cast<uint32_t>(entry.iiFlags)});
  }
  return true;
}

bool SendFailureMemory::Changed(uint32_t address, int error) {
  auto found = errors_.find(address);
  const int before = found == errors_.end() ? 0 : found->second;
  if (error == 0) {
    if (found != errors_.end()) errors_.erase(found);
  } else {
    errors_[address] = error;
  }
  return before != error;
}

void SendFailureMemory::Keep(const std::vector<BroadcastTarget>& targets) {
  for (auto entry = errors_.begin(); entry != errors_.end();) {
    const bool listed = std::any_of(targets.begin(), targets.end(),
                                    [&](const BroadcastTarget& target) { return target.address == entry->first; });
    entry = listed ? std::next(entry) : errors_.erase(entry);
  }
}

AfterSend NextStep(bool limitedSent, size_t directedSent) {
  return limitedSent || directedSent > 0 ? AfterSend::AwaitReply : AfterSend::Pause;
}

}  // namespace Ixa
