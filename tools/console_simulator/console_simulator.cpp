// A lighting console as the loader sees it, on loopback: answers discovery
// broadcasts on a UDP port and serves a processor module over TCP on the
// same port, whole or in one of the faulty ways the loader must survive.
// Logs what it receives; ends after a set number of images or its lifetime.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <share.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "loader/console_protocol.h"
#include "os/win32/unique_socket.h"
#include "tools/console_simulator/many_exports_image.h"
#include "tools/console_simulator/simulator_options.h"

using Ixa::kDiscoveryReply;
using Ixa::kDiscoveryRequest;
using Ixa::kImageBufferSize;
using Ixa::kImageRequest;

namespace {

// One byte more than the loader's image buffer holds.
constexpr size_t kOversizeImage = kImageBufferSize + 1;
constexpr int kPollMs = 100;
constexpr DWORD kRequestWaitMs = 5000;
constexpr int kSendChunk = 1 << 20;
constexpr DWORD kSendTimeoutMs = 2000;
// Pauses far below the probe's idle limit in its tests (1 s), and far too
// slow a pace to finish an image: 640 bytes a second.
constexpr int kTricklePiece = 64;
constexpr int kTricklePauseMs = 100;

LARGE_INTEGER gFrequency;
LARGE_INTEGER gStart;
FILE* gLogFile = nullptr;

double CounterMs(LONGLONG counter) {
  return 1000.0 * static_cast<double>(counter) / static_cast<double>(gFrequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double ElapsedMs() { return CounterMs(Now() - gStart.QuadPart); }

void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  std::printf("[%8.1f ms] %s\n", ElapsedMs(), line);
  std::fflush(stdout);
  if (gLogFile != nullptr) {
    std::fprintf(gLogFile, "[%8.1f ms] %s\n", ElapsedMs(), line);
    std::fflush(gLogFile);
  }
}

std::string Hex(const uint8_t* bytes, int count) {
  std::string text;
  char byte[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof(byte), i ? " %02x" : "%02x", bytes[i]);
    text += byte;
  }
  return text;
}

std::string Address(const sockaddr_in& address) {
  char text[32];
  std::snprintf(text, sizeof(text), "%s:%u", inet_ntoa(address.sin_addr), ntohs(address.sin_port));
  return text;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  uint8_t chunk[65536];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes->insert(bytes->end(), chunk, chunk + count);
  std::fclose(file);
  return true;
}

// What this console sends after an image request.
bool BuildImage(const SimulatorOptions& options, std::vector<uint8_t>* image) {
  if (options.fault == Fault::NotDll) {
    static const char kText[] = "This is a lighting show file, not a Windows library.\r\n";
    for (int i = 0; i < 2048; ++i) image->insert(image->end(), kText, kText + sizeof(kText) - 1);
    return true;
  }
  if (options.fault == Fault::ManyExports) {
    *image = ManyExportsImage();
    return true;
  }
  if (!ReadFileBytes(options.module, image)) {
    Log("cannot read module %s", options.module.c_str());
    return false;
  }
  if (options.fault == Fault::Oversize) image->resize(kOversizeImage, 0);
  return true;
}

Os::UniqueSocket OpenUdp(int port) {
  Os::UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  BOOL on = TRUE;
  setsockopt(udp.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on));
  setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = htons(static_cast<u_short>(port));
  if (bind(udp.get(), reinterpret_cast<const sockaddr*>(&any), sizeof(any)) != 0) {
    Log("cannot bind UDP port %d, error %d", port, WSAGetLastError());
    udp.reset();
  }
  return udp;
}

Os::UniqueSocket OpenListener(int port) {
  Os::UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  BOOL on = TRUE;
  setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = htons(static_cast<u_short>(port));
  if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&any), sizeof(any)) != 0 ||
      listen(listener.get(), SOMAXCONN) != 0) {
    Log("cannot listen on TCP port %d, error %d", port, WSAGetLastError());
    listener.reset();
  }
  return listener;
}

bool WaitReadable(SOCKET socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

class Console {
 public:
  explicit Console(const SimulatorOptions& options) : options_(options) {}

  int Run() {
    if (!BuildImage(options_, &image_)) return 1;
    udp_ = OpenUdp(options_.port);
    if (!udp_) return 1;
    if (options_.fault != Fault::Refuse && options_.listenAfterSeconds <= 0) {
      listener_ = OpenListener(options_.port);
      if (!listener_) return 1;
    }
    Log("ready: port %d, fault %s, image %zu bytes%s", options_.port, FaultName(options_.fault), image_.size(),
        listener_ ? "" : ", no TCP listener");
    while (!Over()) {
      ListenWhenStarted();
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(udp_.get(), &readable);
      if (listener_) FD_SET(listener_.get(), &readable);
      timeval wait{0, kPollMs * 1000};
      if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
      if (FD_ISSET(udp_.get(), &readable)) AnswerDiscovery();
      if (listener_ && FD_ISSET(listener_.get(), &readable)) ServeConnection();
    }
    Log(served_ > 0 && served_ >= options_.exitAfterImages ? "served %d image(s), exiting" : "lifetime over, exiting",
        served_);
    return 0;
  }

 private:
  bool Over() const {
    if (options_.exitAfterImages > 0 && served_ >= options_.exitAfterImages) return true;
    return ElapsedMs() >= options_.lifetimeSeconds * 1000.0;
  }

  void AnswerDiscovery() {
    uint8_t request[16];
    sockaddr_in sender{};
    int senderSize = sizeof(sender);
    int count = recvfrom(udp_.get(), reinterpret_cast<char*>(request), sizeof(request), 0,
                         reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (count <= 0) return;
    bool valid = count == 4 && std::memcmp(request, kDiscoveryRequest, 4) == 0;
    Log("discovery request from %s: %s%s", Address(sender).c_str(), Hex(request, count).c_str(),
        valid ? "" : " (not a discovery request)");
    if (!valid) return;
    static const uint8_t kFiveBytes[5] = {0x83, 0xF9, 0xB5, 0x23, 0x00};
    const uint8_t* reply = kDiscoveryReply;
    int length = 4;
    switch (options_.fault) {
      case Fault::Silent:
        Log("  no reply");
        return;
      case Fault::Echo:
        reply = kDiscoveryRequest;
        break;
      case Fault::ShortReply:
        length = 3;
        break;
      case Fault::LongReply:
        reply = kFiveBytes;
        length = 5;
        break;
      case Fault::JunkFirst:
        // In one burst, so that the reply queues behind the junk.
        for (const auto& junk : {std::make_pair(kDiscoveryRequest, 4), std::make_pair(kFiveBytes, 5)}) {
          sendto(udp_.get(), reinterpret_cast<const char*>(junk.first), junk.second, 0,
                 reinterpret_cast<const sockaddr*>(&sender), sizeof(sender));
        }
        Log("  sent %s and %s first", Hex(kDiscoveryRequest, 4).c_str(), Hex(kFiveBytes, 5).c_str());
        break;
      default:
        break;
    }
    sendto(udp_.get(), reinterpret_cast<const char*>(reply), length, 0, reinterpret_cast<const sockaddr*>(&sender),
           sizeof(sender));
    Log("  replied %s", Hex(reply, length).c_str());
    if (listenAtMs_ == 0) listenAtMs_ = ElapsedMs() + options_.listenAfterSeconds * 1000;
  }

  // A console still starting opens its image server a while after it first
  // answered discovery.
  void ListenWhenStarted() {
    if (listener_ || options_.fault == Fault::Refuse || listenAtMs_ == 0 || ElapsedMs() < listenAtMs_) return;
    listener_ = OpenListener(options_.port);
    Log(listener_ ? "image server listening now" : "image server could not listen");
  }

  void ServeConnection() {
    sockaddr_in peer{};
    int peerSize = sizeof(peer);
    Os::UniqueSocket connection(accept(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &peerSize));
    if (!connection) return;
    // Wine may leave a blocking send waiting for ever once the loader has
    // dropped the connection; a bound lets the console serve the next one.
    const DWORD sendTimeoutMs = kSendTimeoutMs;
    setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeoutMs),
               sizeof(sendTimeoutMs));
    Log("connection from %s, accepted at counter %.3f ms", Address(peer).c_str(), CounterMs(Now()));
    uint8_t request[4];
    int got = 0;
    while (got < 4 && WaitReadable(connection.get(), kRequestWaitMs)) {
      int count = recv(connection.get(), reinterpret_cast<char*>(request + got), 4 - got, 0);
      if (count <= 0) break;
      got += count;
    }
    if (got != 4 || std::memcmp(request, kImageRequest, 4) != 0) {
      Log("  no image request (got %s), closing", Hex(request, got).c_str());
      return;
    }
    Log("  image request: %s", Hex(request, 4).c_str());
    size_t total = image_.size();
    switch (options_.fault) {
      case Fault::CloseAtOnce:
        Log("  closing without data");
        ++served_;
        return;
      case Fault::Cut:
        total /= 2;
        break;
      case Fault::Stall:
        total /= 2;
        break;
      default:
        break;
    }
    size_t sent = options_.fault == Fault::Trickle ? Trickle(connection.get()) : Send(connection.get(), total);
    if (options_.fault == Fault::Stall && sent == total) {
      Log("  sent %zu of %zu bytes, stalling", sent, image_.size());
      StallUntilClosed(connection.get());
    } else {
      Log("  sent %zu of %zu bytes, closing", sent, image_.size());
      shutdown(connection.get(), SD_SEND);
    }
    ++served_;
  }

  size_t Send(SOCKET connection, size_t total) {
    size_t sent = 0;
    while (sent < total) {
      int chunk = static_cast<int>(total - sent < static_cast<size_t>(kSendChunk) ? total - sent : kSendChunk);
      int count = send(connection, reinterpret_cast<const char*>(image_.data() + sent), chunk, 0);
      if (count <= 0) {
        Log("  send failed, error %d", WSAGetLastError());
        break;
      }
      sent += static_cast<size_t>(count);
    }
    return sent;
  }

  // A piece after each pause, until the image is out or the peer has gone
  // (its close ends a pause at once).
  size_t Trickle(SOCKET connection) {
    size_t sent = 0;
    while (sent < image_.size() && !Over()) {
      char byte;
      if (WaitReadable(connection, kTricklePauseMs) && recv(connection, &byte, 1, 0) <= 0) break;
      const int piece = static_cast<int>(std::min<size_t>(kTricklePiece, image_.size() - sent));
      const int count = send(connection, reinterpret_cast<const char*>(image_.data() + sent), piece, 0);
      if (count <= 0) break;
      sent += static_cast<size_t>(count);
    }
    return sent;
  }

  void StallUntilClosed(SOCKET connection) {
    while (!Over()) {
      if (!WaitReadable(connection, kPollMs)) continue;
      char byte;
      if (recv(connection, &byte, 1, 0) <= 0) {
        Log("  the loader closed the stalled connection");
        return;
      }
    }
  }

  const SimulatorOptions& options_;
  std::vector<uint8_t> image_;
  Os::UniqueSocket udp_;
  Os::UniqueSocket listener_;
  double listenAtMs_ = 0;
  int served_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QueryPerformanceFrequency(&gFrequency);
  QueryPerformanceCounter(&gStart);
  SimulatorOptions options;
  if (!ParseSimulatorOptions(argc, argv, &options)) return 2;
  if (!options.logPath.empty()) gLogFile = _fsopen(options.logPath.c_str(), "w", _SH_DENYNO);
  WSADATA wsaData;
  if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) return 1;
  int result = Console(options).Run();
  WSACleanup();
  if (gLogFile != nullptr) std::fclose(gLogFile);
  return result;
}
