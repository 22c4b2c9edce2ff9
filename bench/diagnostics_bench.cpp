// Costs of the log path: a disabled level, a record that flood control
// drops, a record that is written, and what the log file adds to it; each
// against the same run's baseline.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "kellib/text.h"
#include "os/oslog.h"
#include "os/oslogmanager.h"
#include "os/osstacktrace.h"

namespace {

template <typename Body>
double NsPerCall(int calls, Body body) {
  double start = NowNs();
  for (int i = 0; i < calls; ++i) body(i);
  return (NowNs() - start) / calls;
}

// Counts its records and does nothing else.
class NullWriter : public Os::Log::Writer {
 public:
  using Writer::Writer;
  bool Write(const Os::Log::Record&) override { return true; }
};

volatile unsigned gSink;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  Os::Log::Context enabled("Bench", Os::Log::Mask{31});
  Os::Log::Context disabled("BenchQuiet", Os::Log::Mask{8});
  Os::Log::Manager& manager = Os::Log::Manager::Instance();
  const char text[] = "benchmark record";

  double empty = NsPerCall(10000000, [](int i) { gSink = gSink + static_cast<unsigned>(i); });
  double isEnabled = NsPerCall(10000000, [&](int) { gSink = gSink + disabled.IsEnabled(1); });

  // The flood state of line 1 is exhausted first, so every record is dropped.
  for (int i = 0; i < 200; ++i) enabled.Write(8, "bench\\dropped", "main", 1, nullptr, 0, text, 16);
  double dropped = NsPerCall(200000, [&](int) { enabled.Write(8, "bench\\dropped", "main", 1, nullptr, 0, text, 16); });
  Os::StackAddress stack[Os::kStackCapacity];
  double capture = NsPerCall(2000, [&](int) { gSink = Os::CaptureCurrentStack(stack); });

  // The log file beside the debugger output: a record through both writers
  // against one through the debugger output alone.
  // Rounds of each in turn, so that a busy moment of the machine costs both.
  std::vector<double> alone, both;
  for (int round = 0; round < 15; ++round) {
    alone.push_back(NsPerCall(1000, [&](int i) {
      manager.WriteLog(&enabled, 8, "alone", "main", static_cast<unsigned>(i), text, 16, "SysLog");
    }));
    both.push_back(NsPerCall(
        1000, [&](int i) { manager.WriteLog(&enabled, 8, "both", "main", static_cast<unsigned>(i), text, 16); }));
  }
  const double debuggerAlone = Median(alone);
  const double withFile = Median(both);

  // Written records go through every writer: the debugger-output one (with
  // no debugger listening), the log file and a writer that does nothing.
  manager.AddWriter(kel::counted_ref<Os::Log::Writer>(new NullWriter("Null")));
  double written = NsPerCall(20000, [&](int i) {
    enabled.Write(8, "bench\\written", "main", 1000 + static_cast<unsigned>(i), nullptr, 0, text, 16);
  });
  double writeLog = NsPerCall(
      20000, [&](int i) { manager.WriteLog(&enabled, 8, "written", "main", static_cast<unsigned>(i), text, 16); });
  double debugOutput = NsPerCall(20000, [&](int) { OutputDebugStringA("x\n"); });

  std::printf("loop baseline                 %10.1f ns\n", empty);
  std::printf("IsEnabled, disabled level     %10.1f ns  (%.1fx baseline)\n", isEnabled, isEnabled / empty);
  std::printf("record dropped by flood ctl   %10.1f ns\n", dropped);
  std::printf("record written (2 writers)    %10.1f ns  (%.1fx dropped)\n", written, written / dropped);
  std::printf("  of which WriteLog alone     %10.1f ns\n", writeLog);
  std::printf("  of which OutputDebugStringA %10.1f ns\n", debugOutput);
  std::printf("stack capture (call sites)    %10.1f ns  (%.1fx dropped record)\n", capture, capture / dropped);
  std::printf("record, debugger output only  %10.1f ns  (median of 15 rounds)\n", debuggerAlone);
  std::printf("record, with the log file     %10.1f ns  (+%.0f%%; goal: at most +25%%)\n", withFile,
              100.0 * (withFile - debuggerAlone) / debuggerAlone);
  return 0;
}
