#include "loader/console_discovery.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "loader/discovery_targets.h"
#include "loader/socket_wait.h"
#include "loader/status_report.h"
#include "os/oslog.h"
#include "os/win32/unique_socket.h"

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

Os::Log::Context& DiscoveryContext() {
  static Os::Log::Context context("Discovery", Os::Log::Mask{Os::Log::kNotice | Os::Log::kWarning | Os::Log::kError});
  return context;
}

// Only the connection worker scans, and one worker at a time.
SendFailureMemory gSendFailures;

// A send that starts failing, fails differently or works again is told once
// on the debugger output; a network that stays broken would otherwise write
// a line every five seconds.
void TellSendChange(const BroadcastTarget& target, int error) {
  if (!gSendFailures.Changed(target.address, error)) return;
  const uint16_t level = error != 0 ? Os::Log::kWarning : Os::Log::kNotice;
  Os::Log::Context& context = DiscoveryContext();
  if (!context.IsEnabled(level)) return;
  char text[128];
  const std::string to = DottedAddress(target.broadcast);
  const std::string via = DescribeInterface(target.address, target.prefix);
  if (error != 0) {
    std::snprintf(text, sizeof(text), "Discovery request to %s via %s failed, error %d", to.c_str(), via.c_str(),
                  error);
  } else {
    std::snprintf(text, sizeof(text), "Discovery request to %s via %s is sent again", to.c_str(), via.c_str());
  }
  // No stack: the first capture loads every module's symbols, seconds in
  // which the search would stand still.
  context.Write(level, "loader\\console_discovery", "SendToEveryNetwork", __LINE__, nullptr, 0, text,
                std::strlen(text));
}

// The request to the directed broadcast of every network the PC is on,
// listed anew each attempt so a cable plugged in later is found. How many
// went out.
size_t SendToEveryNetwork(SOCKET udp, uint16_t port) {
  std::vector<InterfaceAddress> interfaces;
  if (!ListInterfaceAddresses(udp, &interfaces)) return 0;
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

}  // namespace

bool ScanForConsole(sockaddr_in* console, uint32_t port) {
  ReportStatusFormat(0, "Scanning port %d...", static_cast<int>(port));
  Os::UniqueSocket udp = OpenDiscoverySocket();
  if (!udp) return false;

  const bool limitedSent = SendDiscoveryRequest(udp.get(), static_cast<uint16_t>(port)) != SOCKET_ERROR;
  if (!limitedSent) PrintSocketError("Broadcast failed, error %i\n");
  const size_t directedSent = SendToEveryNetwork(udp.get(), static_cast<uint16_t>(port));
  if (NextStep(limitedSent, directedSent) == AfterSend::Pause) {
    // No route (an offline laptop) fails at once: wait as long as a reply
    // would have been awaited, so the scan does not spin.
    WaitForStop(kDiscoveryTimeoutMs);
    return false;
  }

  switch (WaitForSocket(udp.get(), SocketReadiness::Readable, kDiscoveryTimeoutMs)) {
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
      return false;
  }
  uint8_t reply[sizeof(kDiscoveryReply)];
  sockaddr_in sender{};
  int senderSize = sizeof(sender);
  int received = recvfrom(udp.get(), reinterpret_cast<char*>(reply), sizeof(reply), 0,
                          reinterpret_cast<sockaddr*>(&sender), &senderSize);
  if (received == SOCKET_ERROR) {
    PrintSocketError("Recieve failed, error %i\n");
    return false;
  }
  if (!IsDiscoveryReply(reply, static_cast<size_t>(received))) {
    return false;
  }
  *console = sender;
  console->sin_port = htons(static_cast<u_short>(port));
  return true;
}
