#pragma once

#include <cstdint>

#include <winsock2.h>

#include "loader/console_protocol.h"
#include "loader/trust_policy.h"

namespace Ixa {

// One discovery attempt: broadcasts the request on the port and listens for
// five seconds for a reply from a console the policy allows. True when one
// answered; its address, with the port replaced by ours, goes to *console.
// Anything else that arrives is ignored, and an attempt that fails lasts
// its five seconds all the same. Ends early, with false, when detection is
// being stopped.
bool ScanForConsole(sockaddr_in* console, uint32_t port, const TrustPolicy& policy);

}  // namespace Ixa
