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

// Starts Windows Sockets; owns nothing when that fails, with the error as
// the last error (WSAStartup returns it instead).
inline UniqueSocketsStartup StartSockets() {
  WSADATA data;
  const int error = WSAStartup(MAKEWORD(2, 0), &data);
  if (error != 0) SetLastError(static_cast<DWORD>(error));
  return UniqueSocketsStartup(error == 0);
}

}  // namespace Os
