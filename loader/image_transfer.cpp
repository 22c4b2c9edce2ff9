#include "loader/image_transfer.h"

#include <new>

#include "loader/attempt_failure.h"
#include "loader/socket_wait.h"
#include "loader/status_report.h"
#include "os/win32/unique_socket.h"

namespace Ixa {

namespace {

// A console that neither completes the connection nor sends a byte for this
// long is taken for gone, as a cable pulled mid-transfer.
constexpr DWORD kTransferIdleMs = 10000;

void FailWithSocketError(AttemptFailure* failure, const char* format) {
  FailTransiently(failure, format, WSAGetLastError());
}

// Connects without blocking, so that a stop request is noticed while the
// system is still trying.
bool Connect(SOCKET tcp, const sockaddr_in& console, AttemptFailure* failure) {
  u_long nonBlocking = 1;
  ioctlsocket(tcp, FIONBIO, &nonBlocking);
  if (connect(tcp, reinterpret_cast<const sockaddr*>(&console), sizeof(console)) == 0) return true;
  if (WSAGetLastError() != WSAEWOULDBLOCK) {
    FailWithSocketError(failure, "Connection error: %i");
    return false;
  }
  switch (WaitForSocket(tcp, SocketReadiness::Writable, kTransferIdleMs)) {
    case WaitResult::Stopped:
      return false;
    case WaitResult::TimedOut:
      WSASetLastError(WSAETIMEDOUT);
      FailWithSocketError(failure, "Connection error: %i");
      return false;
    case WaitResult::Failed:
      FailWithSocketError(failure, "Connection error: %i");
      return false;
    case WaitResult::Ready:
      break;
  }
  int error = 0;
  int size = sizeof(error);
  getsockopt(tcp, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
  if (error != 0) {
    FailTransiently(failure, "Connection error: %i", error);
    return false;
  }
  return true;
}

// Receives until the console closes the connection, straight into the
// buffer. False (text shown unless stopped) on any failure.
bool Receive(SOCKET tcp, DpImage* image, AttemptFailure* failure) {
  uint8_t* buffer = image->bytes.get();
  for (;;) {
    if (image->size == kImageBufferSize) {
      // Either more is coming or the image exactly fills the buffer; both
      // are more than a module may be, and a cut module must never load.
      ReportStatus(StatusCode::Info, "DP image too large");
      return false;
    }
    int count =
        recv(tcp, reinterpret_cast<char*>(buffer + image->size), static_cast<int>(kImageBufferSize - image->size), 0);
    if (count > 0) {
      image->size += static_cast<size_t>(count);
      continue;
    }
    if (count == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      FailWithSocketError(failure, "Recieve error: %i, ");
      return false;
    }
    switch (WaitForSocket(tcp, SocketReadiness::Readable, kTransferIdleMs)) {
      case WaitResult::Ready:
        break;
      case WaitResult::Stopped:
        return false;
      case WaitResult::TimedOut:
        WSASetLastError(WSAETIMEDOUT);
        FailWithSocketError(failure, "Recieve error: %i, ");
        return false;
      case WaitResult::Failed:
        FailWithSocketError(failure, "Recieve error: %i, ");
        return false;
    }
  }
}

}  // namespace

TransferResult FetchImage(const sockaddr_in& console, DpImage* image, AttemptFailure* failure) {
  Os::UniqueSocket tcp(OpenSocket(SOCK_STREAM, IPPROTO_TCP));
  if (!tcp) {
    FailWithSocketError(failure, "Socket Creation Failed: %i");
    return TransferResult::NoSocket;
  }
  if (!Connect(tcp.get(), console, failure)) return TransferResult::Failed;
  if (SendImageRequest(tcp.get()) == SOCKET_ERROR) {
    FailTransiently(failure, "Error requesting DP image");
    return TransferResult::Failed;
  }
  image->bytes.reset(new (std::nothrow) uint8_t[kImageBufferSize]);
  image->size = 0;
  if (!image->bytes) {
    FailTransiently(failure, "Not enough memory for the DP image");
    return TransferResult::Failed;
  }
  if (!Receive(tcp.get(), image, failure)) return TransferResult::Failed;
  shutdown(tcp.get(), SD_RECEIVE);
  tcp.reset();
  if (image->size == 0) {
    FailTransiently(failure, "DP image not recieved");
    return TransferResult::Failed;
  }
  return TransferResult::Received;
}

}  // namespace Ixa
