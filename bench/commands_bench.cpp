// Cost of GetDMXBuffer and of the fixture commands against their floors,
// measured in the same run, and GetDMXBuffer from 1 and 4 host threads.
// Run from build/bin (it loads processor_module.dll from there).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "IxaLoader.h"
#include "bench/bench_clock.h"
#include "loader/fixture_commands.h"
#include "loader/loader_state.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "ui/patch_table.h"

using namespace Ixa;

namespace {

constexpr int kCalls = 1000000;
// Many short rounds, alternating between a measurement and its floor. The
// machine's other load only ever makes a round slower, so each side's time
// is its best round; the ratio is the median over neighbouring pairs, which
// a change of the machine's speed between rounds meets on both sides.
constexpr int kRounds = 201;
constexpr int kCallsPerRound = 50000;

struct Pair {
  double measured;  // ns per call, best round
  double floor;     // ns per call, best round
  double ratio;     // measured / floor, median over neighbouring rounds
};

template <typename Body>
double TimeNs(Body& body, int calls) {
  double start = NowNs();
  body(calls);
  return (NowNs() - start) / calls;
}

template <typename Measured, typename Floor>
Pair Compare(Measured measured, Floor floor) {
  Pair best{1e300, 1e300, 0};
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    double m = TimeNs(measured, kCallsPerRound);
    double f = TimeNs(floor, kCallsPerRound);
    best.measured = std::min(best.measured, m);
    best.floor = std::min(best.floor, f);
    ratios.push_back(m / f);
  }
  std::nth_element(ratios.begin(), ratios.begin() + kRounds / 2, ratios.end());
  best.ratio = ratios[kRounds / 2];
  return best;
}

volatile uint32_t gSink;
GetPortBufferFn volatile gGetPortBuffer;

// The least any export wrapping the module can cost: the host's call into
// it plus its call on into the module, with the result looked at.
__attribute__((noinline)) IxaBool IXA_CALL ForwardingExport(uint16_t row, unsigned char** out) {
  return gGetPortBuffer(static_cast<uint32_t>(row / 16), row % 16, out) != 0;
}

// Stands in for the module's SendMIDICommands: takes a copy of the message.
__attribute__((noinline)) int32_t __cdecl CopyingSend(int32_t, int32_t length, const uint8_t* message) {
  static uint8_t received[kCommandBufferSize];
  std::memcpy(received, message, static_cast<size_t>(length));
  gSink = received[length - 2];
  return 1;
}
SendMIDICommandsFn volatile gSend = &CopyingSend;

// CPU time this thread has used, in ns (the clock counts in 100 ns units).
double ThreadCpuNs() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto ticks = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 100.0;
}

// One loop for both exports, each copy starting on a cache line: a shift in
// where the linker places the code then favours neither side.
template <IxaBool(IXA_CALL* Read)(uint16_t, unsigned char**)>
__attribute__((noinline, aligned(64))) void ReadRowsWith(int calls, uint32_t* checksum) {
  uint32_t sum = 0;
  for (int i = 0; i < calls; ++i) {
    unsigned char* buffer;
    Read(static_cast<uint16_t>(i & 31), &buffer);
    sum += buffer[1];
  }
  *checksum = sum;
}

void ReadRows(int calls, uint32_t* checksum) { ReadRowsWith<&GetDMXBuffer>(calls, checksum); }

struct Scaling {
  double wallNsPerCall;  // wall time / calls of all threads
  double cpuNsPerCall;   // mean CPU time per call on each thread
};

Scaling ReadRowsOnThreads(int threads, int callsEach) {
  Scaling best{1e300, 1e300};
  for (int round = 0; round < 5; ++round) {
    std::vector<double> cpu(threads);
    std::vector<uint32_t> sums(threads);
    std::vector<std::thread> workers;
    double start = NowNs();
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        double before = ThreadCpuNs();
        ReadRows(callsEach, &sums[t]);
        cpu[t] = ThreadCpuNs() - before;
      });
    }
    for (std::thread& worker : workers) worker.join();
    double wall = NowNs() - start;
    double cpuTotal = 0;
    for (double c : cpu) cpuTotal += c;
    best.wallNsPerCall = std::min(best.wallNsPerCall, wall / (static_cast<double>(threads) * callsEach));
    best.cpuNsPerCall = std::min(best.cpuNsPerCall, cpuTotal / (static_cast<double>(threads) * callsEach));
  }
  return best;
}

// A visualiser's load: kHostThreads threads each read every universe once
// per frame, all starting a frame together so their reads overlap. Frames
// run back to back; what a frame's reads take, summed over the threads and
// times 60, is the share of one core at 60 frames/s.
constexpr int kHostThreads = 4;
constexpr int kUniversesPerFrame = 64;
constexpr int kFrames = 2000;

template <IxaBool(IXA_CALL* Read)(uint16_t, unsigned char**)>
double HostFrameShare() {
  std::atomic<int> arrived{0};
  std::vector<std::vector<double>> frameNs(kHostThreads, std::vector<double>(kFrames));
  std::vector<std::thread> threads;
  for (int t = 0; t < kHostThreads; ++t) {
    threads.emplace_back([&, t] {
      uint32_t sum = 0;
      for (int frame = 0; frame < kFrames; ++frame) {
        // Every thread arrives before any reads the frame.
        arrived.fetch_add(1);
        while (arrived.load() < (frame + 1) * kHostThreads) SwitchToThread();
        double start = NowNs();
        for (int universe = 0; universe < kUniversesPerFrame; ++universe) {
          unsigned char* buffer;
          Read(static_cast<uint16_t>(universe), &buffer);
          sum += buffer[1];
        }
        frameNs[t][frame] = NowNs() - start;
      }
      gSink = sum;
    });
  }
  for (std::thread& thread : threads) thread.join();
  // A thread the scheduler parked mid-frame measures the wait, not the
  // reads: the median frame of each thread stands for it.
  double perFrame = 0;
  for (std::vector<double>& ns : frameNs) {
    std::nth_element(ns.begin(), ns.begin() + kFrames / 2, ns.end());
    perFrame += ns[kFrames / 2];
  }
  return perFrame * 60 / 1e9 * 100;
}

}  // namespace

int main() {
  HMODULE module = LoadLibraryA("processor_module.dll");
  if (module == nullptr || !BindProcessorTable(module)) {
    std::fprintf(stderr, "processor_module.dll not found or incomplete\n");
    return 1;
  }
  SetDefaultPatch();
  Loader().module.store(module);
  ResolvePatchNodes();  // nodes 1 and 2 on ports 0 and 1: rows 0-31 resolved

  gGetPortBuffer = Loader().table.GetPortBuffer.load();
  GetPortBufferFn volatile& direct = gGetPortBuffer;
  auto readRows = [](int calls) {
    uint32_t sum;
    ReadRows(calls, &sum);
    gSink = sum;
  };
  auto forwardRows = [](int calls) {
    uint32_t sum;
    ReadRowsWith<&ForwardingExport>(calls, &sum);
    gSink = sum;
  };
  auto directRows = [&](int calls) {
    uint32_t sum = 0;
    for (int i = 0; i < calls; ++i) {
      uint8_t* buffer;
      int row = i & 31;
      direct(static_cast<uint32_t>(row / 16), row % 16, &buffer);
      sum += buffer[1];
    }
    gSink = sum;
  };
  Pair dmx = Compare(readRows, directRows);
  Pair forwarding = Compare(readRows, forwardRows);
  std::printf("GetDMXBuffer, resolved row:        %7.2f ns/call\n", dmx.measured);
  std::printf("GetPortBuffer through a pointer:   %7.2f ns/call (floor)\n", dmx.floor);
  std::printf("  ratio %.2fx\n", dmx.ratio);
  std::printf("bare forwarding export (2 calls):  %7.2f ns/call, %.2fx the floor\n", forwarding.floor,
              forwarding.floor / dmx.floor);
  std::printf(
      "  GetDMXBuffer vs forwarding export: %.2fx, best rounds %.2fx (tests, count and exception frame;"
      " for the record)\n\n",
      forwarding.ratio, forwarding.measured / forwarding.floor);

  Loader().table.SendMIDICommands.store(&CopyingSend);
  CommandBuffer prebuilt{};
  BuildFixtureCommand(prebuilt, kSelectFixture, 300);
  Pair select = Compare(
      [](int calls) {
        for (int i = 0; i < calls; ++i) SelectFixture(static_cast<uint32_t>(i));
      },
      [&](int calls) {
        for (int i = 0; i < calls; ++i) {
          CommandBuffer scratch = prebuilt;
          gSend(0, 13, scratch.data());
        }
      });
  CommandBuffer prebuiltPan{}, prebuiltTilt{};
  BuildPositionCommand(prebuiltPan, 5, kPan, 1000);
  BuildPositionCommand(prebuiltTilt, 5, kTilt, 8191);
  Pair panTilt = Compare(
      [](int calls) {
        for (int i = 0; i < calls; ++i) SetFixturePanTilt(static_cast<uint32_t>(i), 1000, 8191);
      },
      [&](int calls) {
        for (int i = 0; i < calls; ++i) {
          CommandBuffer scratch = prebuiltPan;
          gSend(0, 18, scratch.data());
          std::memcpy(scratch.data(), prebuiltTilt.data(), 18);
          gSend(0, 18, scratch.data());
        }
      });
  std::printf("SelectFixture:                     %7.2f ns/call\n", select.measured);
  std::printf("prebuilt message copied and sent:  %7.2f ns/call (floor)\n", select.floor);
  std::printf("  ratio %.2fx\n", select.ratio);
  std::printf("SetFixturePanTilt:                 %7.2f ns/call\n", panTilt.measured);
  std::printf("two prebuilt messages sent:        %7.2f ns/call (floor)\n", panTilt.floor);
  std::printf("  ratio %.2fx\n\n", panTilt.ratio);

  SYSTEM_INFO system;
  GetSystemInfo(&system);
  // Long enough for the thread clock, which ticks coarsely.
  Scaling one = ReadRowsOnThreads(1, 10 * kCalls);
  Scaling four = ReadRowsOnThreads(4, 10 * kCalls);
  std::printf("GetDMXBuffer from host threads (%lu processors):\n", system.dwNumberOfProcessors);
  std::printf("  1 thread:  %7.2f ns/call wall, %7.2f ns/call CPU\n", one.wallNsPerCall, one.cpuNsPerCall);
  std::printf("  4 threads: %7.2f ns/call wall, %7.2f ns/call CPU per thread\n", four.wallNsPerCall, four.cpuNsPerCall);
  std::printf("  throughput 4 vs 1: %.2fx (ideal %lu.00x); CPU per call 4 vs 1: %.2fx (1.00x = no contention)\n",
              one.wallNsPerCall / four.wallNsPerCall, std::min<DWORD>(4, system.dwNumberOfProcessors),
              four.cpuNsPerCall / one.cpuNsPerCall);

  const double hostShare = HostFrameShare<&GetDMXBuffer>();
  const double forwardingShare = HostFrameShare<&ForwardingExport>();
  std::printf("\n%d host threads reading %d universes per frame at 60 frames/s, reads overlapping:\n", kHostThreads,
              kUniversesPerFrame);
  std::printf("  GetDMXBuffer:      %.4f%% of a core (goal < 0.1%%)\n", hostShare);
  std::printf("  forwarding export: %.4f%% of a core (baseline); %.2fx\n", forwardingShare,
              hostShare / forwardingShare);

  Loader().module.store(nullptr);
  UnbindProcessorTable();
  FreeLibrary(module);
  return 0;
}
