#pragma once

#include <cstdint>

#include <winsock2.h>

// Discovery wire format: the request the loader broadcasts and the reply a
// console sends back, four bytes each.
constexpr uint8_t kDiscoveryRequest[4] = {0x83, 0xF8, 0xB5, 0x23};
constexpr uint8_t kDiscoveryReply[4] = {0x83, 0xF9, 0xB5, 0x23};
constexpr DWORD kDiscoveryTimeoutMs = 5000;

// One discovery attempt: broadcasts the request on the port and waits up to
// five seconds for one reply. True when a console answered; its address,
// with the port replaced by ours, goes to *console. Ends early, with false,
// when detection is being stopped.
bool ScanForConsole(sockaddr_in* console, uint32_t port);
