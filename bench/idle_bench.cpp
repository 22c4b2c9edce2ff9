// Processor time of the host process while the loader searches for a
// console that never answers, against the same process with the status
// window open and no search. Only this process is measured: under Wine the
// wineserver does part of the work, and its time shows in /proc outside
// Wine, not from in here. Before that, the cost of one discovery attempt
// with 1, 4 and 16 networks besides loopback, against the limited broadcast
// alone. Run inside the sandbox, from build/bin: the networks are ifb
// devices (they lead nowhere) that this program adds to the sandbox's
// namespace and removes again.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_clock.h"
#include "loader/console_discovery.h"
#include "loader/discovery_targets.h"
#include "os/win32/unique_socket.h"
#include "tests/network/network_support.h"

using namespace Ixa;

using namespace network_test;

namespace {

// Three discovery broadcasts at the 5 s receive timeout.
constexpr DWORD kWindowMs = 15000;

double ProcessCpuNs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ticks = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 100.0;
}

struct Share {
  double cpuMs;
  double percent;  // of one core
};

// The processor time this process uses over the next kWindowMs. Under Wine
// the process clock counts whole 10 ms ticks: 0.07 % of a core per tick.
Share MeasureShare() {
  double cpu = ProcessCpuNs();
  double start = NowNs();
  Sleep(kWindowMs);
  double used = ProcessCpuNs() - cpu;
  return {used / 1e6, 100.0 * used / (NowNs() - start)};
}

constexpr int kAttempts = 200;
constexpr int kMostNetworks = 16;

// The sandbox's own ip, run as the Unix program it is (Wine starts those
// too). Its exit is not seen from here; NetworkCount tells when it acted.
bool RunShell(const std::string& script) {
  std::string commandLine = "Z:\\bin\\sh -c \"" + script + "\"";
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Networks the loader would send a directed broadcast to.
int NetworkCount() {
  Os::UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  std::vector<InterfaceAddress> interfaces;
  if (!udp || !ListInterfaceAddresses(udp.get(), &interfaces)) return -1;
  return static_cast<int>(BroadcastTargets(interfaces).size());
}

bool WaitForNetworks(int count) {
  for (int waited = 0; waited < 10000; waited += 50) {
    if (NetworkCount() == count) return true;
    Sleep(50);
  }
  return false;
}

// Networks first+1 .. last: ixa-bench<n> with 10.100.<n>.1/24.
bool AddNetworks(int first, int last) {
  char script[256];
  std::snprintf(script, sizeof(script),
                "for n in $(seq %d %d); do ip link add name ixa-bench$n type ifb && "
                "ip addr add 10.100.$n.1/24 dev ixa-bench$n && ip link set ixa-bench$n up; done",
                first + 1, last);
  return RunShell(script) && WaitForNetworks(last);
}

void RemoveNetworks() {
  char script[128];
  std::snprintf(script, sizeof(script), "for n in $(seq 1 %d); do ip link del ixa-bench$n; done", kMostNetworks);
  if (!RunShell(script) || !WaitForNetworks(0)) std::printf("the bench networks could not be removed\n");
}

// Median wall times of single calls of a and b, called in turn so both see
// the same moments of a shared machine. Under Wine the wall time includes
// the wineserver's share, so it is the attempt's whole cost.
template <typename A, typename B>
std::pair<double, double> MedianUs(A&& a, B&& b) {
  std::vector<double> aUs, bUs;
  for (int i = 0; i < kAttempts; ++i) {
    double start = NowNs();
    a();
    double middle = NowNs();
    b();
    double end = NowNs();
    aUs.push_back((middle - start) / 1e3);
    bUs.push_back((end - middle) / 1e3);
  }
  auto median = [](std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  };
  return {median(aUs), median(bUs)};
}

// What an attempt did before it sent to every network: the socket with its
// options, the limited broadcast, the close.
void LimitedBroadcastAlone(uint16_t port) {
  Os::UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  const char broadcast = 1;
  const DWORD timeoutMs = kDiscoveryTimeoutMs;
  const char* timeout = reinterpret_cast<const char*>(&timeoutMs);
  setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, &broadcast, 1);
  setsockopt(udp.get(), SOL_SOCKET, SO_SNDTIMEO, timeout, sizeof(timeoutMs));
  setsockopt(udp.get(), SOL_SOCKET, SO_RCVTIMEO, timeout, sizeof(timeoutMs));
  SendDiscoveryRequest(udp.get(), port);
}

// One whole attempt but its wait: detection is not running in this copy of
// the loader, so the attempt ends where it would start waiting.
void AttemptWithoutWait(uint16_t port) {
  sockaddr_in console{};
  ScanForConsole(&console, port, TrustPolicy{});
}

// Per-attempt cost with 1, 4 and 16 networks, each round against the
// limited broadcast alone measured right before it.
bool MeasureAttempts(uint16_t port) {
  if (std::getenv("IXA_SANDBOX") == nullptr || NetworkCount() != 0) {
    std::printf("attempt costs need the sandbox with loopback alone\n");
    return false;
  }
  std::printf("one discovery attempt without its wait, median wall time of %d (the wineserver's share included):\n",
              kAttempts);
  std::printf("  %-10s %14s %14s %8s %22s\n", "networks", "limited alone", "attempt", "ratio",
              "share of a core at 5 s");
  const int rounds[] = {0, 1, 4, kMostNetworks};
  for (size_t i = 0; i < sizeof(rounds) / sizeof(rounds[0]); ++i) {
    if (i > 0 && !AddNetworks(rounds[i - 1], rounds[i])) {
      std::printf("could not add networks up to %d\n", rounds[i]);
      RemoveNetworks();
      return false;
    }
    auto [limited, attempt] = MedianUs([&] { LimitedBroadcastAlone(port); }, [&] { AttemptWithoutWait(port); });
    std::printf("  %-10d %11.1f us %11.1f us %7.2fx %20.4f %%\n", rounds[i], limited, attempt, attempt / limited,
                100.0 * attempt / (kDiscoveryTimeoutMs * 1e3));
  }
  return true;
}

}  // namespace

int main() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  // Nobody listens on this port: the requests go nowhere.
  if (!MeasureAttempts(6599)) return 1;
  // The search below runs with all of them up, the costliest case.
  Host host;
  Simulator console(host.Port(), {"--fault", "silent"});
  if (host.window == nullptr || !console.Ready()) {
    std::printf("status window or simulator did not come up\n");
    RemoveNetworks();
    return 1;
  }
  Share idle = MeasureShare();
  host.StartDetect();
  if (!console.WaitFor("discovery request", kRunningTimeoutMs)) {
    std::printf("no discovery request reached the simulator\n");
    RemoveNetworks();
    return 1;
  }
  Share searching = MeasureShare();
  host.ShutdownOB(0);
  RemoveNetworks();
  std::printf("host process CPU, share of one core over %lu s each (the wineserver's share is not seen here):\n",
              kWindowMs / 1000);
  std::printf("  %-40s %6.2f %%  (%.0f ms)\n", "status window open, no search:", idle.percent, idle.cpuMs);
  std::printf("  %-40s %6.2f %%  (%.0f ms)\n", "searching with 16 networks, no answer:", searching.percent,
              searching.cpuMs);
  std::printf("  %-40s %6.2f %% of a core  (goal <= 0.50)\n",
              "extra while searching:", searching.percent - idle.percent);
  return 0;
}
