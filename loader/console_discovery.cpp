#include "loader/console_discovery.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "loader/discovery_targets.h"
#include "loader/loader_log.h"
#include "loader/socket_wait.h"
#include "loader/status_report.h"
#include "os/win32/unique_socket.h"

namespace Ixa {

namespace {

constexpr UINT kDismissCheckMs = 50;

BOOL CALLBACK DismissBox(HWND hwnd, LPARAM) {
  PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return TRUE;
}

// Runs inside the box's own message loop: once detection is being stopped,
// nobody is left to read the box, and ShutdownOB must not wait for a user.
void CALLBACK DismissWhenStopping(HWND, UINT, UINT_PTR, DWORD) {
  if (DetectionStopping()) EnumThreadWindows(GetCurrentThreadId(), &DismissBox, 0);
}

// The modal "DLL Error" box for the calling thread's last error.
void ShowDiscoveryErrorBox() {
  const DWORD code = GetLastError();
  char systemText[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), systemText, sizeof(systemText), nullptr);
  char text[640];
  std::snprintf(text, sizeof(text), "Failed with error %d: %s", static_cast<int>(code), systemText);
  UINT_PTR timer = SetTimer(nullptr, 0, kDismissCheckMs, &DismissWhenStopping);
  MessageBoxA(nullptr, text, "DLL Error", MB_OK);
  if (timer != 0) KillTimer(nullptr, timer);
}

// The discovery socket with its options set; none (after the error box)
// when the socket or an option cannot be had.
Os::UniqueSocket OpenDiscoverySocket() {
  Os::UniqueSocket udp(OpenSocket(SOCK_DGRAM, IPPROTO_UDP));
  // The broadcast option is a single byte; the timeouts are 32-bit values.
  const char broadcast = 1;
  const DWORD timeoutMs = kDiscoveryTimeoutMs;
  const char* timeout = reinterpret_cast<const char*>(&timeoutMs);
  bool ready = udp && setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, &broadcast, 1) == 0 &&
               setsockopt(udp.get(), SOL_SOCKET, SO_SNDTIMEO, timeout, sizeof(timeoutMs)) == 0 &&
               setsockopt(udp.get(), SOL_SOCKET, SO_RCVTIMEO, timeout, sizeof(timeoutMs)) == 0;
  if (!ready) {
    ShowDiscoveryErrorBox();
    udp.reset();
  }
  return udp;
}

void PrintSocketError(const char* format) {
  std::printf(format, WSAGetLastError());
  std::fflush(stdout);
}

constexpr const char* kSource = "loader\\console_discovery";

// Only the connection worker scans, and one worker at a time.
SendFailureMemory gSendFailures;

// A send that starts failing, fails differently or works again is told once
// on the debugger output; a network that stays broken would otherwise write
// a line every five seconds.
void TellSendChange(const BroadcastTarget& target, int error) {
  if (!gSendFailures.Changed(target.address, error)) return;
  const std::string to = DottedAddress(target.broadcast);
  const std::string via = DescribeInterface(target.address, target.prefix);
  if (error != 0) {
    WriteRecord(DiscoveryLog(), Os::Log::kWarning, kSource, "SendToEveryNetwork", __LINE__,
                "Discovery request to " + to + " via " + via + " failed, error " + std::to_string(error));
  } else {
    WriteRecord(DiscoveryLog(), Os::Log::kNotice, kSource, "SendToEveryNetwork", __LINE__,
                "Discovery request to " + to + " via " + via + " is sent again");
  }
}

// The request to the directed broadcast of every network the PC is on,
// listed anew each attempt so a cable plugged in later is found. How many
// went out.
size_t SendToEveryNetwork(SOCKET udp, uint16_t port, const std::vector<InterfaceAddress>& interfaces) {
  const std::vector<BroadcastTarget> targets = BroadcastTargets(interfaces);
  gSendFailures.Keep(targets);
  size_t sent = 0;
  for (const BroadcastTarget& target : targets) {
    const int error = SendDiscoveryRequest(udp, port, target.broadcast) == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (error == 0) ++sent;
    TellSendChange(target, error);
  }
  return sent;
}

// What an attempt listened to and did not take, told once as it ends.
struct Ignored {
  int junk = 0;     // datagrams that are no reply
  int foreign = 0;  // replies from an address that is not allowed
  uint32_t lastForeign = 0;

  ~Ignored() {
    if (junk > 0) {
      WriteRecord(DiscoveryLog(), Os::Log::kNotice, kSource, "ScanForConsole", __LINE__,
                  "Discovery ignored " + std::to_string(junk) + " datagram(s) that were no console's reply");
    }
    if (foreign > 0) {
      WriteRecord(DiscoveryLog(), Os::Log::kWarning, kSource, "ScanForConsole", __LINE__,
                  "Discovery ignored " + std::to_string(foreign) +
                      " reply(s) from outside the allowed consoles, the last from " + DottedAddress(lastForeign));
    }
  }
};

uint32_t MillisecondsUntil(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
}

}  // namespace

bool ScanForConsole(sockaddr_in* console, uint32_t port, const TrustPolicy& policy) {
  ReportStatusFormat(StatusCode::Info, "Scanning port %d...", static_cast<int>(port));
  Os::UniqueSocket udp = OpenDiscoverySocket();
  if (!udp) return false;
  const ULONGLONG deadline = GetTickCount64() + kDiscoveryTimeoutMs;

  std::vector<InterfaceAddress> interfaces;
  ListInterfaceAddresses(udp.get(), &interfaces);
  const bool limitedSent = SendDiscoveryRequest(udp.get(), static_cast<uint16_t>(port)) != SOCKET_ERROR;
  if (!limitedSent) PrintSocketError("Broadcast failed, error %i\n");
  const size_t directedSent = SendToEveryNetwork(udp.get(), static_cast<uint16_t>(port), interfaces);
  if (NextStep(limitedSent, directedSent) == AfterSend::Pause) {
    // No route (an offline laptop) fails at once: wait as long as a reply
    // would have been awaited, so the scan does not spin.
    WaitForStop(kDiscoveryTimeoutMs);
    return false;
  }

  // Until the deadline, whatever arrives: a reply queued behind junk is
  // still taken, and nothing the network sends brings the next request
  // burst forward.
  Ignored ignored;
  for (;;) {
    switch (WaitForSocket(udp.get(), SocketReadiness::Readable, MillisecondsUntil(deadline))) {
      case WaitResult::Ready:
        break;
      case WaitResult::Stopped:
        return false;
      case WaitResult::TimedOut:
        WSASetLastError(WSAETIMEDOUT);  // what the receive timeout reports
        PrintSocketError("Recieve failed, error %i\n");
        return false;
      case WaitResult::Failed:
        PrintSocketError("Recieve failed, error %i\n");
        WaitForStop(MillisecondsUntil(deadline));
        return false;
    }
    uint8_t reply[sizeof(kDiscoveryReply)];
    sockaddr_in sender{};
    int senderSize = sizeof(sender);
    const int received = recvfrom(udp.get(), reinterpret_cast<char*>(reply), sizeof(reply), 0,
                                  reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (received == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) continue;
      // Longer than a reply, or a port-unreachable answer to one of the sends.
      if (error == WSAEMSGSIZE || error == WSAECONNRESET) {
        ++ignored.junk;
        continue;
      }
      PrintSocketError("Recieve failed, error %i\n");
      WaitForStop(MillisecondsUntil(deadline));
      return false;
    }
    if (!IsDiscoveryReply(reply, static_cast<size_t>(received))) {
      ++ignored.junk;
      continue;
    }
    const uint32_t from = ntohl(sender.sin_addr.s_addr);
    if (!IsConsoleAllowed(from, interfaces, policy)) {
      ++ignored.foreign;
      ignored.lastForeign = from;
      continue;
    }
    *console = sender;
    console->sin_port = htons(static_cast<u_short>(port));
    return true;
  }
}

}  // namespace Ixa
