#pragma once

// The probe's side of the console protocol: one discovery round (to
// 255.255.255.255 and to the directed broadcast of every network, as the
// loader sends it) and one image transfer. The wire format is the loader's own; the waits are the
// probe's (select with a time limit), so every step ends on its own.

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "loader/discovery_targets.h"

// One discovery request sent, or not.
struct DiscoverySend {
  bool limited;                 // to 255.255.255.255, through the preferred route
  Ixa::BroadcastTarget target;  // otherwise: where to and through which interface
  int error;                    // 0 when it went out
};

struct Datagram {
  sockaddr_in sender;
  std::vector<uint8_t> bytes;
  uint32_t elapsedMs;  // since the broadcast
  // The interface it arrived on, when the system's list names it.
  bool arrivalKnown;
  uint32_t arrivalAddress;  // host byte order
  int arrivalPrefix;
};

// Whether a datagram is a console's discovery reply, judged as the loader
// judges it: exactly the four reply bytes.
bool IsDiscoveryReply(const Datagram& datagram);

// Sends the discovery requests once on the port, telling onSend of each
// before any datagram is read, and hands each datagram that arrives within
// timeoutMs to onDatagram. 0, or the Winsock error that ended the discovery
// (when no request went out, the limited broadcast's).
int Discover(uint16_t port, uint32_t timeoutMs, const std::function<void(const DiscoverySend&)>& onSend,
             const std::function<void(const Datagram&)>& onDatagram);

enum class TransferOutcome {
  Complete,       // the console closed the connection
  Stalled,        // no data for the time limit
  TooSlow,        // still not complete at the transfer's deadline
  TooLarge,       // more than the loader's image buffer holds
  ConnectFailed,  // error says why
  Failed,         // error says why
};

struct Transfer {
  TransferOutcome outcome = TransferOutcome::Failed;
  int error = 0;
  std::vector<uint8_t> image;  // what arrived, whatever the outcome
};

// The whole transfer, connection, request and image, ends this many times the
// probe's timeout after it began, however the console paces its bytes: 60 s
// at the default 5 s, in which even the largest image the loader accepts
// arrives at 1.54 Mbit/s, a small part of any LAN (it takes under a second
// on 100 Mbit/s). Who expects a slower link raises the timeout.
constexpr uint32_t kTransferTimeouts = 12;

inline uint32_t TransferDeadlineMs(uint32_t timeoutMs) { return kTransferTimeouts * timeoutMs; }

// Asks the console for its image and receives it as the loader does: into
// one buffer of the loader's size, complete when the console closes the
// connection. Waits at most timeoutMs for the connection and for each piece,
// and TransferDeadlineMs(timeoutMs) for all of it.
Transfer FetchImage(const sockaddr_in& console, uint32_t timeoutMs);
