#include "tools/probe/console_exchange.h"

#include <chrono>

#include "loader/console_protocol.h"
#include "os/win32/unique_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// Larger than any UDP payload, so a datagram is never cut.
constexpr int kDatagramBufferSize = 65536;

uint32_t MsSince(Clock::time_point start) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

timeval Timeval(uint32_t ms) { return timeval{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000}; }

// 1 ready, 0 time limit reached, SOCKET_ERROR on failure.
int WaitReadable(SOCKET socket, uint32_t ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval limit = Timeval(ms);
  return select(0, &readable, nullptr, nullptr, &limit);
}

void SetNonBlocking(SOCKET socket) {
  u_long on = 1;
  ioctlsocket(socket, FIONBIO, &on);
}

// 0 when connected, else the Winsock error (WSAETIMEDOUT after the limit).
int Connect(SOCKET tcp, const sockaddr_in& console, uint32_t timeoutMs) {
  if (connect(tcp, reinterpret_cast<const sockaddr*>(&console), sizeof(console)) == 0) return 0;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return WSAGetLastError();
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(tcp, &writable);
  FD_SET(tcp, &failed);
  timeval limit = Timeval(timeoutMs);
  int ready = select(0, nullptr, &writable, &failed, &limit);
  if (ready == SOCKET_ERROR) return WSAGetLastError();
  if (ready == 0) return WSAETIMEDOUT;
  int error = 0;
  int size = sizeof(error);
  getsockopt(tcp, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
  return error;
}

// Receives until the console closes the connection, stalls, fails or sends
// more than the loader would hold.
void Receive(SOCKET tcp, uint32_t timeoutMs, Transfer* transfer) {
  std::vector<uint8_t>& image = transfer->image;
  image.resize(kImageBufferSize);
  size_t size = 0;
  for (;;) {
    if (size == kImageBufferSize) {
      transfer->outcome = TransferOutcome::TooLarge;
      break;
    }
    int ready = WaitReadable(tcp, timeoutMs);
    if (ready == 0) {
      transfer->outcome = TransferOutcome::Stalled;
      break;
    }
    int count = ready == SOCKET_ERROR
                    ? SOCKET_ERROR
                    : recv(tcp, reinterpret_cast<char*>(image.data() + size), static_cast<int>(kImageBufferSize - size), 0);
    if (count == 0) {
      transfer->outcome = TransferOutcome::Complete;
      break;
    }
    if (count == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
      transfer->outcome = TransferOutcome::Failed;
      transfer->error = WSAGetLastError();
      break;
    }
    size += static_cast<size_t>(count);
  }
  image.resize(size);
}

}  // namespace

bool IsDiscoveryReply(const Datagram& datagram) {
  return IsDiscoveryReply(datagram.bytes.data(), datagram.bytes.size());
}

int Discover(uint16_t port, uint32_t timeoutMs, const std::function<void(const Datagram&)>& onDatagram) {
  Os::UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  const BOOL broadcast = TRUE;
  if (!udp || setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
                         sizeof(broadcast)) != 0) {
    return WSAGetLastError();
  }
  const Clock::time_point start = Clock::now();
  if (SendDiscoveryRequest(udp.get(), port) == SOCKET_ERROR) {
    return WSAGetLastError();
  }
  std::vector<uint8_t> buffer(kDatagramBufferSize);
  for (uint32_t elapsed = 0; elapsed < timeoutMs; elapsed = MsSince(start)) {
    int ready = WaitReadable(udp.get(), timeoutMs - elapsed);
    if (ready == SOCKET_ERROR) return WSAGetLastError();
    if (ready == 0) break;
    Datagram datagram{};
    int senderSize = sizeof(datagram.sender);
    int count = recvfrom(udp.get(), reinterpret_cast<char*>(buffer.data()), kDatagramBufferSize, 0,
                         reinterpret_cast<sockaddr*>(&datagram.sender), &senderSize);
    if (count == SOCKET_ERROR) return WSAGetLastError();
    datagram.bytes.assign(buffer.begin(), buffer.begin() + count);
    datagram.elapsedMs = MsSince(start);
    onDatagram(datagram);
  }
  return 0;
}

Transfer FetchImage(const sockaddr_in& console, uint32_t timeoutMs) {
  Transfer transfer;
  Os::UniqueSocket tcp(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!tcp) {
    transfer.outcome = TransferOutcome::ConnectFailed;
    transfer.error = WSAGetLastError();
    return transfer;
  }
  SetNonBlocking(tcp.get());
  transfer.error = Connect(tcp.get(), console, timeoutMs);
  if (transfer.error != 0) {
    transfer.outcome = TransferOutcome::ConnectFailed;
    return transfer;
  }
  // Four bytes always fit an empty send buffer, even without blocking.
  if (SendImageRequest(tcp.get()) == SOCKET_ERROR) {
    transfer.error = WSAGetLastError();
    return transfer;
  }
  Receive(tcp.get(), timeoutMs, &transfer);
  return transfer;
}
