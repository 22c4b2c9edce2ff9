#pragma once

// Where a discovery request goes besides 255.255.255.255: the directed
// broadcast of every network the PC is on. Windows sends the limited
// broadcast only through the interface of the preferred route, so a console
// on a second network would never hear it.

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Ixa {

// One IPv4 address of an interface as the system lists it; addresses and
// mask in host byte order, flags the system's IFF_ bits.
struct InterfaceAddress {
  uint32_t address;
  uint32_t mask;
  uint32_t flags;
};

// A directed broadcast and the interface address it serves.
struct BroadcastTarget {
  uint32_t broadcast;
  uint32_t address;
  int prefix;
};

// Length of a mask whose ones are contiguous from the top; -1 for any other.
int PrefixLength(uint32_t mask);

// The directed broadcast of the address's subnet. False when the subnet has
// none: /31 and /32 (and masks that are no prefix).
bool DirectedBroadcast(uint32_t address, uint32_t mask, uint32_t* broadcast);

// Whether discovery goes to this interface: up and able to broadcast, not
// loopback and not point-to-point (tunnels are listed as point-to-point or
// without broadcast).
bool IsBroadcastInterface(uint32_t flags);

// One target per distinct directed broadcast, in the order listed.
std::vector<BroadcastTarget> BroadcastTargets(const std::vector<InterfaceAddress>& interfaces);

// The interface a datagram arrived on: the one holding the address it was
// sent to (0 when unknown), else the one whose subnet holds the sender.
// None when neither is listed.
const InterfaceAddress* ArrivalInterface(const std::vector<InterfaceAddress>& interfaces, uint32_t destination,
                                         uint32_t sender);

// "10.77.0.255"
std::string DottedAddress(uint32_t address);
// "10.77.0.1/24"
std::string DescribeInterface(uint32_t address, int prefix);

// The IPv4 interface addresses of the system, asked through the socket.
// False with the Windows Sockets error left as the last error.
bool ListInterfaceAddresses(SOCKET socket, std::vector<InterfaceAddress>* interfaces);

// What a failing send to a directed broadcast last did, per interface
// address, so a failure is told once when it starts or changes, and its end
// once, not on every attempt.
class SendFailureMemory {
 public:
  // The error (0 for a send that went out) of this attempt's send from the
  // address; true when it differs from the last attempt's (none before
  // counts as 0).
  bool Changed(uint32_t address, int error);
  // Forgets the addresses that are no longer listed.
  void Keep(const std::vector<BroadcastTarget>& targets);

 private:
  std::map<uint32_t, int> errors_;
};

// What an attempt does after its sends: the limited broadcast's failure
// alone is no reason to pause while a directed request went out.
enum class AfterSend { AwaitReply, Pause };
AfterSend NextStep(bool limitedSent, size_t directedSent);

}  // namespace Ixa
