// Processor time of the host process while the loader searches for a
// console that never answers, against the same process with the status
// window open and no search. Only this process is measured: under Wine the
// wineserver does part of the work, and its time shows in /proc outside
// Wine, not from in here. Run inside the sandbox, from build/bin.
#include <windows.h>

#include <cstdio>

#include "bench/bench_clock.h"
#include "tests/network/network_support.h"

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

}  // namespace

int main() {
  Host host;
  Simulator console(host.Port(), {"--fault", "silent"});
  if (host.window == nullptr || !console.Ready()) {
    std::printf("status window or simulator did not come up\n");
    return 1;
  }
  Share idle = MeasureShare();
  host.StartDetect();
  if (!console.WaitFor("discovery request", kRunningTimeoutMs)) {
    std::printf("no discovery request reached the simulator\n");
    return 1;
  }
  Share searching = MeasureShare();
  host.ShutdownOB(0);
  std::printf("host process CPU, share of one core over %lu s each (the wineserver's share is not seen here):\n",
              kWindowMs / 1000);
  std::printf("  %-40s %6.2f %%  (%.0f ms)\n", "status window open, no search:", idle.percent, idle.cpuMs);
  std::printf("  %-40s %6.2f %%  (%.0f ms)\n", "searching, the console never answers:", searching.percent,
              searching.cpuMs);
  std::printf("  %-40s %6.2f %% of a core  (goal <= 0.50)\n", "extra while searching:",
              searching.percent - idle.percent);
  return 0;
}
