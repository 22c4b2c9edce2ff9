#pragma once

#include <cstdint>

#include <winsock2.h>

#include "loader/console_protocol.h"

// One discovery attempt: broadcasts the request on the port and waits up to
// five seconds for one reply. True when a console answered; its address,
// with the port replaced by ours, goes to *console. Ends early, with false,
// when detection is being stopped.
bool ScanForConsole(sockaddr_in* console, uint32_t port);
