#pragma once

#include <winsock2.h>

#include "loader/image_transfer.h"
#include "loader/trust_policy.h"

namespace Ixa {

// The received image, checked in memory before it is written anywhere: a
// library for this process's machine whose export table names all sixteen
// entry points, and, when the policy lists modules, one it trusts. Its
// SHA-256 and the console it came from go to the log either way. False,
// with the text shown, for an image that must not be saved or loaded.
// This stops a wrong or damaged image; only the policy stops an attacker.
bool CheckImage(const DpImage& image, const sockaddr_in& console, const TrustPolicy& policy);

}  // namespace Ixa
