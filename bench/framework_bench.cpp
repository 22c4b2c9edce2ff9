// Framework base against the standard library, measured side by side in one
// run. Prints ns/op and the framework's ratio to its baseline.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include <windows.h>

#include "bench/bench_clock.h"
#include "kellib/text.h"
#include "os/oslock.h"
#include "os/ostime.h"

namespace {

volatile uint32_t sink;

template <typename Body>
double TimeRound(int operations, Body& body) {
  double begin = NowNs();
  for (int i = 0; i < operations; ++i) body(i);
  return (NowNs() - begin) / operations;
}

struct Pair {
  double framework;
  double baseline;
};

// Best of many rounds in ns per operation, the two sides taking turns so
// that both see the same load on the machine.
template <typename Framework, typename Baseline>
Pair Measure(int operations, Framework framework, Baseline baseline) {
  Pair best{1e300, 1e300};
  for (int round = 0; round < 21; ++round) {
    best.framework = std::min(best.framework, TimeRound(operations, framework));
    best.baseline = std::min(best.baseline, TimeRound(operations, baseline));
  }
  return best;
}

// A goal of 0 reports the ratio without a goal.
void Report(const char* what, Pair times, double goal) {
  double framework = times.framework;
  double baseline = times.baseline;
  double ratio = framework / baseline;
  std::printf("%-36s framework %8.1f ns/op  baseline %8.1f ns/op  ratio %5.2f", what, framework, baseline, ratio);
  if (goal > 0) std::printf("  (goal <= %.1f) %s", goal, ratio <= goal ? "ok" : "MISSED");
  std::printf("\n");
}

const wchar_t* const kWords[] = {L"status ", L"connected ", L"to ",   L"console ",
                                 L"on ",     L"port ",      L"6600 ", L"universe "};

void AppendBench() {
  constexpr int kOps = 20000;
  Pair presized = Measure(
      kOps,
      [](int) {
        kel::wtext line = kel::wtext::Make(127, 0);
        for (const wchar_t* word : kWords) line.Append(word);
        sink = sink + line.size;
      },
      [](int) {
        std::wstring line;
        line.reserve(127);
        for (const wchar_t* word : kWords) line.append(word);
        sink = sink + line.size();
      });
  Report("append 8 words, presized", presized, 1.2);

  Pair growing = Measure(
      kOps,
      [](int) {
        kel::wtext line;
        for (int repeat = 0; repeat < 4; ++repeat) {
          for (const wchar_t* word : kWords) line.Append(word);
        }
        sink = sink + line.size;
      },
      [](int) {
        std::wstring line;
        for (int repeat = 0; repeat < 4; ++repeat) {
          for (const wchar_t* word : kWords) line.append(word);
        }
        sink = sink + line.size();
      });
  Report("append 32 words, growing", growing, 1.2);

  Pair numbers = Measure(
      kOps,
      [](int i) {
        kel::wtext line = kel::wtext::Make(127, 0);
        line.Append(L"code ").AppendSigned(i).Append(L" of ").AppendUnsigned(static_cast<uint32_t>(i) * 7u);
        sink = sink + line.size;
      },
      [](int i) {
        std::wstring line;
        line.reserve(127);
        line.append(L"code ")
            .append(std::to_wstring(i))
            .append(L" of ")
            .append(std::to_wstring(static_cast<uint32_t>(i) * 7u));
        sink = sink + line.size();
      });
  Report("append text and numbers", numbers, 1.2);
}

void ArgBench() {
  constexpr int kOps = 20000;
  const std::wstring where = L"connection worker";
  Pair arg = Measure(
      kOps,
      [&](int i) {
        kel::wtext message = kel::wtext::Make(L"Error %1: %2 failed in %3");
        message.Arg(i).Arg("receive").Arg(where);
        sink = sink + message.size;
      },
      [&](int i) {
        std::wstring message = L"Error %1: %2 failed in %3";
        message.reserve(63);
        message.replace(message.find(L"%1"), 2, std::to_wstring(i));
        message.replace(message.find(L"%2"), 2, L"receive");
        message.replace(message.find(L"%3"), 2, where);
        sink = sink + message.size();
      });
  Report("Arg x3 vs find/replace", arg, 1.2);
}

void ClockBench() {
  constexpr int kOps = 100000;
  Pair now = Measure(
      kOps, [](int) { sink = sink + Os::TimeMs::Now().Value(); },
      [](int) {
        LARGE_INTEGER count;
        QueryPerformanceCounter(&count);
        sink = sink + static_cast<uint32_t>(count.QuadPart);
      });
  Report("TimeMs::Now vs counter read", now, 2.0);
}

void LockBench() {
  constexpr int kOps = 200000;
  Os::CriticalSection section;
  std::mutex mutex;
  Pair key = Measure(
      kOps,
      [&](int i) {
        Os::Key hold(section);
        sink = sink + static_cast<uint32_t>(i);
      },
      [&](int i) {
        std::lock_guard<std::mutex> hold(mutex);
        sink = sink + static_cast<uint32_t>(i);
      });
  Report("Key(CriticalSection) vs std::mutex", key, 0);
  CRITICAL_SECTION bare;
  InitializeCriticalSection(&bare);
  Pair againstBare = Measure(
      kOps,
      [&](int i) {
        Os::Key hold(section);
        sink = sink + static_cast<uint32_t>(i);
      },
      [&](int i) {
        EnterCriticalSection(&bare);
        sink = sink + static_cast<uint32_t>(i);
        LeaveCriticalSection(&bare);
      });
  DeleteCriticalSection(&bare);
  Report("Key(CriticalSection) vs bare section", againstBare, 0);
}

}  // namespace

int main() {
  AppendBench();
  ArgBench();
  ClockBench();
  LockBench();
  return 0;
}
