#pragma once

#include <cstddef>
#include <cstdint>

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
