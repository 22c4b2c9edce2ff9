#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <winsock2.h>

namespace Ixa {

// What a console and the loader say to each other on the configured port:
// raw bytes, no framing beyond what is shown here.

// Discovery: the loader broadcasts the request over UDP and a console sends
// the reply back to the sending socket, four bytes each.
constexpr uint8_t kDiscoveryRequest[4] = {0x83, 0xF8, 0xB5, 0x23};
constexpr uint8_t kDiscoveryReply[4] = {0x83, 0xF9, 0xB5, 0x23};
constexpr uint32_t kDiscoveryTimeoutMs = 5000;

// Transfer: one request over TCP, then the module file until the console
// closes the connection.
constexpr uint8_t kImageRequest[4] = {0xFA, 0xFA, 0x00, 0x0A};
// The most the loader ever holds; an image that fills it is refused.
constexpr size_t kImageBufferSize = 11534336;

// Sends the discovery request on the port to a broadcast address (host
// byte order), by default 255.255.255.255; sendto's result.
inline int SendDiscoveryRequest(SOCKET udp, uint16_t port, uint32_t broadcast = INADDR_BROADCAST) {
  sockaddr_in everyone{};
  everyone.sin_family = AF_INET;
  everyone.sin_addr.s_addr = htonl(broadcast);
  everyone.sin_port = htons(port);
  return sendto(udp, reinterpret_cast<const char*>(kDiscoveryRequest), sizeof(kDiscoveryRequest), 0,
                reinterpret_cast<const sockaddr*>(&everyone), sizeof(everyone));
}

// Only the exact four bytes count as a console's answer.
inline bool IsDiscoveryReply(const uint8_t* bytes, size_t size) {
  return size == sizeof(kDiscoveryReply) && std::memcmp(bytes, kDiscoveryReply, size) == 0;
}

// Asks a connected console for its module; send's result.
inline int SendImageRequest(SOCKET tcp) {
  return send(tcp, reinterpret_cast<const char*>(kImageRequest), sizeof(kImageRequest), 0);
}

}  // namespace Ixa
