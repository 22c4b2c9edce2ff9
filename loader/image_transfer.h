#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <winsock2.h>

#include "loader/attempt_failure.h"
#include "loader/console_protocol.h"

namespace Ixa {

// A received processor module image.
struct DpImage {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
};

enum class TransferResult {
  Received,  // the image is in hand
  NoSocket,  // no TCP socket to be had: no failure path
  Failed,    // text shown (unless detection is being stopped): failure path
};

// Connects to the console, asks for the image and receives it whole into
// one buffer. Every wait ends promptly when detection is being stopped; a
// connect that does not complete, or a console that sends nothing, for ten
// seconds fails with WSAETIMEDOUT. Every failure but an image too large is
// kept in *failure as transient.
TransferResult FetchImage(const sockaddr_in& console, DpImage* image, AttemptFailure* failure);

}  // namespace Ixa
