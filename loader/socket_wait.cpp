#include "loader/socket_wait.h"

#include "loader/loader_state.h"
#include "os/win32/handle.h"

namespace Ixa {

bool DetectionStopping() { return !Loader().detecting.load(); }

WaitResult WaitForSocket(SOCKET socket, SocketReadiness readiness, DWORD timeoutMs) {
  if (DetectionStopping()) return WaitResult::Stopped;
  const bool readable = readiness == SocketReadiness::Readable;
  const long events = readable ? FD_READ | FD_CLOSE : FD_WRITE | FD_CONNECT;
  Os::UniqueHandle networkEvent(WSACreateEvent());
  if (!networkEvent || WSAEventSelect(socket, networkEvent.get(), events) == SOCKET_ERROR) {
    return WaitResult::Failed;
  }
  // The stop event comes first, so that a stop wins when both are set.
  HANDLE handles[] = {Loader().stopDetection.get(), networkEvent.get()};
  const DWORD signalled = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  WSANETWORKEVENTS happened{};
  const bool enumerated = WSAEnumNetworkEvents(socket, networkEvent.get(), &happened) == 0;
  WSAEventSelect(socket, nullptr, 0);
  switch (signalled) {
    case WAIT_OBJECT_0:
      return WaitResult::Stopped;
    case WAIT_OBJECT_0 + 1:
      break;
    case WAIT_TIMEOUT:
      return WaitResult::TimedOut;
    default:
      return WaitResult::Failed;
  }
  if (!enumerated) return WaitResult::Failed;
  const int errorBit = readable ? FD_READ_BIT : FD_CONNECT_BIT;
  if ((happened.lNetworkEvents & (1L << errorBit)) != 0 && happened.iErrorCode[errorBit] != 0) {
    WSASetLastError(happened.iErrorCode[errorBit]);
    return WaitResult::Failed;
  }
  return WaitResult::Ready;
}

bool WaitForStop(DWORD timeoutMs) {
  return WaitForSingleObject(Loader().stopDetection.get(), timeoutMs) == WAIT_OBJECT_0;
}

SOCKET OpenSocket(int type, int protocol) { return socket(AF_INET, type, protocol); }

}  // namespace Ixa
