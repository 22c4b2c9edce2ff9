#pragma once

#include <winsock2.h>

#include "os/win32/unique_resource.h"

namespace Os {

// A Windows Sockets socket.
using UniqueSocket = UniqueResource<CloseTraits<SOCKET, closesocket, INVALID_SOCKET>>;

}  // namespace Os
