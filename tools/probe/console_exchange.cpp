#include "tools/probe/console_exchange.h"

#include <mswsock.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

#include "loader/console_protocol.h"
#include "os/win32/unique_socket.h"

using Ixa::ArrivalInterface;
using Ixa::BroadcastTarget;
using Ixa::BroadcastTargets;
using Ixa::InterfaceAddress;
using Ixa::IsDiscoveryReply;
using Ixa::kImageBufferSize;
using Ixa::ListInterfaceAddresses;
using Ixa::PrefixLength;
using Ixa::SendDiscoveryRequest;
using Ixa::SendImageRequest;

namespace {

using Clock = std::chrono::steady_clock;

// Larger than any UDP payload, so a datagram is never cut.
constexpr int kDatagramBufferSize = 65536;

uint32_t MsSince(Clock::time_point start) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// 0 once the deadline has passed.
uint32_t MsUntil(Clock::time_point deadline) {
  const Clock::time_point now = Clock::now();
  if (now >= deadline) return 0;
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
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

// Receives until the console closes the connection, stalls, fails, sends
// more than the loader would hold or the deadline passes.
void Receive(SOCKET tcp, uint32_t timeoutMs, Clock::time_point deadline, Transfer* transfer) {
  std::vector<uint8_t>& image = transfer->image;
  image.resize(kImageBufferSize);
  size_t size = 0;
  for (;;) {
    if (size == kImageBufferSize) {
      transfer->outcome = TransferOutcome::TooLarge;
      break;
    }
    const uint32_t wait = std::min(timeoutMs, MsUntil(deadline));
    int ready = wait == 0 ? 0 : WaitReadable(tcp, wait);
    if (ready == 0) {
      transfer->outcome = wait == timeoutMs ? TransferOutcome::Stalled : TransferOutcome::TooSlow;
      break;
    }
    int count = ready == SOCKET_ERROR ? SOCKET_ERROR
                                      : recv(tcp, reinterpret_cast<char*>(image.data() + size),
                                             static_cast<int>(kImageBufferSize - size), 0);
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

// Receives one datagram with the address it was sent to, so the reply names
// the interface it came in on. Without WSARecvMsg the destination stays 0
// and the sender's subnet tells the interface instead.
class DatagramReader {
 public:
  explicit DatagramReader(SOCKET udp) : udp_(udp), buffer_(kDatagramBufferSize) {
    const DWORD on = 1;
    GUID id = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    if (setsockopt(udp, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof(on)) != 0 ||
        WSAIoctl(udp, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &recvMsg_, sizeof(recvMsg_), &bytes, nullptr,
                 nullptr) != 0) {
      recvMsg_ = nullptr;
    }
  }

  // The byte count, or SOCKET_ERROR.
  int Read(Datagram* datagram, uint32_t* destination) {
    *destination = 0;
    if (recvMsg_ == nullptr) {
      int senderSize = sizeof(datagram->sender);
      return Keep(recvfrom(udp_, reinterpret_cast<char*>(buffer_.data()), kDatagramBufferSize, 0,
                           reinterpret_cast<sockaddr*>(&datagram->sender), &senderSize),
                  datagram);
    }
    WSABUF data{static_cast<ULONG>(kDatagramBufferSize), reinterpret_cast<char*>(buffer_.data())};
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&datagram->sender);
    message.namelen = sizeof(datagram->sender);
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = WSABUF{sizeof(control), control};
    DWORD count = 0;
    if (recvMsg_(udp_, &message, &count, nullptr, nullptr) != 0) return SOCKET_ERROR;
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
        *destination = ntohl(reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(header))->ipi_addr.s_addr);
      }
    }
    return Keep(static_cast<int>(count), datagram);
  }

 private:
  int Keep(int count, Datagram* datagram) {
    if (count != SOCKET_ERROR) datagram->bytes.assign(buffer_.begin(), buffer_.begin() + count);
    return count;
  }

  SOCKET udp_;
  std::vector<uint8_t> buffer_;
  LPFN_WSARECVMSG recvMsg_ = nullptr;
};

}  // namespace

bool IsDiscoveryReply(const Datagram& datagram) {
  return IsDiscoveryReply(datagram.bytes.data(), datagram.bytes.size());
}

int Discover(uint16_t port, uint32_t timeoutMs, const std::function<void(const DiscoverySend&)>& onSend,
             const std::function<void(const Datagram&)>& onDatagram) {
  Os::UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  const BOOL broadcast = TRUE;
  if (!udp || setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
                         sizeof(broadcast)) != 0) {
    return WSAGetLastError();
  }
  DatagramReader reader(udp.get());
  // All interfaces, loopback too: the list also names where replies arrive.
  std::vector<InterfaceAddress> interfaces;
  ListInterfaceAddresses(udp.get(), &interfaces);

  const Clock::time_point start = Clock::now();
  const int limitedError = SendDiscoveryRequest(udp.get(), port) == SOCKET_ERROR ? WSAGetLastError() : 0;
  onSend(DiscoverySend{true, BroadcastTarget{INADDR_BROADCAST, 0, 0}, limitedError});
  bool anySent = limitedError == 0;
  for (const BroadcastTarget& target : BroadcastTargets(interfaces)) {
    const int error = SendDiscoveryRequest(udp.get(), port, target.broadcast) == SOCKET_ERROR ? WSAGetLastError() : 0;
    onSend(DiscoverySend{false, target, error});
    anySent = anySent || error == 0;
  }
  if (!anySent) return limitedError;

  for (uint32_t elapsed = 0; elapsed < timeoutMs; elapsed = MsSince(start)) {
    int ready = WaitReadable(udp.get(), timeoutMs - elapsed);
    if (ready == SOCKET_ERROR) return WSAGetLastError();
    if (ready == 0) break;
    Datagram datagram{};
    uint32_t destination = 0;
    if (reader.Read(&datagram, &destination) == SOCKET_ERROR) return WSAGetLastError();
    datagram.elapsedMs = MsSince(start);
    const InterfaceAddress* arrival = ArrivalInterface(interfaces, destination, ntohl(datagram.sender.sin_addr.s_addr));
    if (arrival != nullptr) {
      datagram.arrivalKnown = true;
      datagram.arrivalAddress = arrival->address;
      datagram.arrivalPrefix = PrefixLength(arrival->mask);
    }
    onDatagram(datagram);
  }
  return 0;
}

Transfer FetchImage(const sockaddr_in& console, uint32_t timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TransferDeadlineMs(timeoutMs));
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
  // The connection took at most one timeout of the twelve.
  Receive(tcp.get(), timeoutMs, deadline, &transfer);
  return transfer;
}
