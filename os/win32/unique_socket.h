#pragma once

#include <winsock2.h>

#include "os/win32/unique_resource.h"

namespace Os {

struct SocketTraits {
  using Type = SOCKET;
  static Type Invalid() { return INVALID_SOCKET; }
  static bool IsValid(Type socket) { return socket != INVALID_SOCKET; }
  static void Close(Type socket) { closesocket(socket); }
};

// A Windows Sockets socket.
using UniqueSocket = UniqueResource<SocketTraits>;

}  // namespace Os
