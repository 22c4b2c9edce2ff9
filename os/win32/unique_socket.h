#pragma once

#include <winsock2.h>

#include "os/win32/unique_resource.h"

namespace Os {

// A Windows Sockets socket.
using UniqueSocket = UniqueResource<CloseTraits<SOCKET, closesocket, INVALID_SOCKET>>;

struct SocketsStartupTraits {
  using Type = bool;
  static Type Invalid() { return false; }
  static bool IsValid(Type started) { return started; }
  static void Close(Type) { WSACleanup(); }
};
// One start of Windows Sockets (version 2.0), ended when destroyed.
using UniqueSocketsStartup = UniqueResource<SocketsStartupTraits>;

// Starts Windows Sockets; owns nothing when that fails.
inline UniqueSocketsStartup StartSockets() {
  WSADATA data;
  return UniqueSocketsStartup(WSAStartup(MAKEWORD(2, 0), &data) == 0);
}

}  // namespace Os
