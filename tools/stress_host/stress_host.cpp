// Drives the loader as a busy host would, looking for hangs and crashes:
//  1. four threads read universes and send commands while a fifth starts,
//     stops, clicks Reconnect and applies settings, for --seconds and at
//     least 200 cycles;
//  2. 20 cycles of load, start, running, ShutdownOB(1), FreeLibrary, each
//     leaving the library unmapped; every other cycle first frees once
//     without ShutdownOB(1), finds the library still running (a module
//     report still reaches its window), and loads it again.
// A watchdog ends the run when a call stays inside for 20 s. Run inside the
// sandbox, from build/bin.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "IxaLoader.h"
#include "tests/network/network_support.h"
#include "tests/support/test_support.h"
#include "tools/processor_module/test_api.h"
#include "ui/resource.h"

using namespace network_test;

namespace {

constexpr int kHostThreads = 4;
constexpr int kMinControlCycles = 200;
constexpr int kLoadCycles = 20;
// Hang detectors, far above any real figure.
constexpr double kCallLimitMs = 20000;
constexpr int kOtherPort = 6650;
constexpr int kApplyButton = IDC_APPLY;
constexpr int kUserNumberList = IDC_USER_NUMBER;

struct Exports {
  IXA_PFN_StartDetect StartDetect;
  IXA_PFN_ShutdownOB ShutdownOB;
  IXA_PFN_SetRunningCallback SetRunningCallback;
  IXA_PFN_GetDMXBuffer GetDMXBuffer;
  IXA_PFN_ClearProgrammer ClearProgrammer;
  IXA_PFN_SelectNone SelectNone;
  IXA_PFN_SelectFixture SelectFixture;
  IXA_PFN_DeselectFixture DeselectFixture;
  IXA_PFN_KnockoutFixture KnockoutFixture;
  IXA_PFN_SetFixturePanTilt SetFixturePanTilt;
  IXA_PFN_SetFixtureIntensity SetFixtureIntensity;
};

template <typename Fn>
void Bind(HMODULE dll, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  if (*out != nullptr) return;
  std::printf("stress: IxaLoader.dll lacks %s\n", name);
  std::exit(2);
}

Exports BindExports(HMODULE dll) {
  Exports x{};
  Bind(dll, "StartDetect", &x.StartDetect);
  Bind(dll, "ShutdownOB", &x.ShutdownOB);
  Bind(dll, "SetRunningCallback", &x.SetRunningCallback);
  Bind(dll, "GetDMXBuffer", &x.GetDMXBuffer);
  Bind(dll, "ClearProgrammer", &x.ClearProgrammer);
  Bind(dll, "SelectNone", &x.SelectNone);
  Bind(dll, "SelectFixture", &x.SelectFixture);
  Bind(dll, "DeselectFixture", &x.DeselectFixture);
  Bind(dll, "KnockoutFixture", &x.KnockoutFixture);
  Bind(dll, "SetFixturePanTilt", &x.SetFixturePanTilt);
  Bind(dll, "SetFixtureIntensity", &x.SetFixtureIntensity);
  return x;
}

// ---- Watchdog

// One thread's progress as the watchdog sees it: the call it is inside
// (none while it waits on purpose) and how many calls it has finished.
struct Slot {
  std::string name;
  std::atomic<const char*> call{nullptr};
  std::atomic<uint64_t> calls{0};
};

// The host threads' slots, then the control thread's.
Slot gSlots[kHostThreads + 1];
Slot& gControl = gSlots[kHostThreads];
std::atomic<const char*> gPhase{"start"};

class Inside {
 public:
  Inside(Slot& slot, const char* call) : slot_(slot) { slot.call.store(call, std::memory_order_relaxed); }
  ~Inside() {
    slot_.calls.fetch_add(1, std::memory_order_relaxed);
    slot_.call.store(nullptr, std::memory_order_relaxed);
  }
  Inside(const Inside&) = delete;
  Inside& operator=(const Inside&) = delete;

 private:
  Slot& slot_;
};

[[noreturn]] void ReportHang(const Slot& slot, const char* call) {
  std::printf("stress: HANG in phase \"%s\": %s inside %s for %.0f s\n", gPhase.load(), slot.name.c_str(), call,
              kCallLimitMs / 1000);
  for (const Slot& other : gSlots) {
    const char* inside = other.call.load();
    std::printf("  %s: %s\n", other.name.c_str(), inside ? inside : "between calls");
  }
  std::printf("stress: 0 passed, 1 failed\n");
  // Exiting normally would detach the library, which may be what hangs.
  TerminateProcess(GetCurrentProcess(), 3);
  for (;;) Sleep(INFINITE);
}

// Runs until the process ends.
void Watch() {
  uint64_t seen[kHostThreads + 1] = {};
  double since[kHostThreads + 1];
  std::fill(std::begin(since), std::end(since), NowMs());
  for (;;) {
    Sleep(100);
    for (int i = 0; i <= kHostThreads; ++i) {
      const char* call = gSlots[i].call.load();
      uint64_t calls = gSlots[i].calls.load();
      if (call == nullptr || calls != seen[i]) {
        seen[i] = calls;
        since[i] = NowMs();
      } else if (NowMs() - since[i] > kCallLimitMs) {
        ReportHang(gSlots[i], call);
      }
    }
  }
}

struct Latency {
  double worst = 0;
  int count = 0;
};

void TimedShutdown(const Exports& x, IxaBool closeWindow, Latency* latency) {
  double start = NowMs();
  {
    Inside in(gControl, closeWindow ? "ShutdownOB(1)" : "ShutdownOB(0)");
    x.ShutdownOB(closeWindow);
  }
  latency->worst = std::max(latency->worst, NowMs() - start);
  ++latency->count;
}

// The console simulator on one port.
class Console {
 public:
  Console(int port, const std::string& lifetime) : port_(port), lifetime_(lifetime) {}

  bool Ready() const { return simulator_.Ready(); }
  std::string Log() const { return simulator_.Log(); }

 private:
  int port_;
  std::string lifetime_;
  Simulator simulator_{port_, {"--lifetime", lifetime_}};
};

// ---- Phase 1: host threads against the control thread.

struct Command {
  const char* name;
  void (*send)(const Exports&, uint32_t fixture);
};
const Command kCommands[] = {
    {"SelectFixture", [](const Exports& x, uint32_t fixture) { x.SelectFixture(fixture); }},
    {"SetFixturePanTilt", [](const Exports& x, uint32_t fixture) { x.SetFixturePanTilt(fixture, fixture * 97, 4000); }},
    {"SetFixtureIntensity", [](const Exports& x, uint32_t fixture) { x.SetFixtureIntensity(fixture, 200); }},
    {"ClearProgrammer", [](const Exports& x, uint32_t) { x.ClearProgrammer(); }},
    {"SelectNone", [](const Exports& x, uint32_t) { x.SelectNone(); }},
    {"DeselectFixture", [](const Exports& x, uint32_t fixture) { x.DeselectFixture(fixture); }},
    {"KnockoutFixture", [](const Exports& x, uint32_t fixture) { x.KnockoutFixture(fixture); }},
};
constexpr uint32_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

// Every other call reads a universe, as a visualiser does most.
void CallExports(const Exports& x, Slot& slot, const std::atomic<bool>& stop) {
  for (uint32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
    if (i % 2 == 0) {
      Inside in(slot, "GetDMXBuffer");
      unsigned char* buffer;
      x.GetDMXBuffer(static_cast<uint16_t>(i / 2 % 64), &buffer);
    } else {
      const Command& command = kCommands[i / 2 % kCommandCount];
      Inside in(slot, command.name);
      command.send(x, i / 2 % 200 + 1);
    }
  }
}

enum Operation { kShutdown, kReconnect, kApplyPort, kApplyUserNumber, kOperations };
const char* const kOperationNames[kOperations] = {"ShutdownOB(0)", "Reconnect", "Apply port", "Apply user number"};

// Posted as a click is: it runs on the window thread while the control
// thread goes on.
void Click(HWND window, int button) {
  LPARAM control = reinterpret_cast<LPARAM>(GetDlgItem(window, button));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), control);
}

void EditPort(HWND window, int port) {
  Inside in(gControl, "set the port field");
  SetDlgItemInt(window, kPortControl, static_cast<UINT>(port), FALSE);
}

void EditUserNumber(HWND window, int index) {
  Inside in(gControl, "select a user number");
  SendDlgItemMessageA(window, kUserNumberList, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int SelectedUserNumber(HWND window) {
  Inside in(gControl, "read the user number");
  return static_cast<int>(SendDlgItemMessageA(window, kUserNumberList, CB_GETCURSEL, 0, 0));
}

struct ControlRun {
  int homePort = 0;
  int homeUserNumber = 0;
  int editedPort = 0;
  int cycles = 0;
  int done[kOperations] = {};
  double seconds = 0;
  Latency shutdown;
};

void ControlCycle(HWND window, const Exports& x, std::minstd_rand& random, ControlRun* run) {
  {
    Inside in(gControl, "StartDetect");
    x.StartDetect();
  }
  // Mostly a few ms; now and then long enough to reach a later worker state.
  Sleep(random() % 8 == 0 ? 100 + random() % 500 : random() % 5);
  auto operation = static_cast<Operation>(random() % kOperations);
  switch (operation) {
    case kShutdown:
      TimedShutdown(x, 0, &run->shutdown);
      break;
    case kReconnect:
      Click(window, kReconnectButton);
      break;
    case kApplyPort:
      run->editedPort = run->editedPort == run->homePort ? kOtherPort : run->homePort;
      EditPort(window, run->editedPort);
      Click(window, kApplyButton);
      break;
    case kApplyUserNumber:
      EditUserNumber(window, SelectedUserNumber(window) == 0 ? 1 : 0);
      Click(window, kApplyButton);
      break;
    default:
      break;
  }
  ++run->done[operation];
  ++run->cycles;
}

// Puts the settings back (the store keeps them where its key exists) and
// checks that a plain start still reaches running after the churn.
bool SettleAndStart(const Host& host, const Exports& x, ControlRun* run) {
  Sleep(500);  // clicks still queued run first
  EditPort(host.window, run->homePort);
  EditUserNumber(host.window, run->homeUserNumber);
  {
    Inside in(gControl, "Apply (sent)");
    SendMessageA(host.window, WM_COMMAND, MAKEWPARAM(kApplyButton, BN_CLICKED), 0);
  }
  TimedShutdown(x, 0, &run->shutdown);
  gRunning.Reset();
  {
    Inside in(gControl, "StartDetect");
    x.StartDetect();
  }
  bool running = host.WaitRunning();
  TimedShutdown(x, 0, &run->shutdown);
  if (!running) std::printf("stress: FAILED: after the control cycles a plain start did not reach running\n");
  return running;
}

bool ControlPhase(const Host& host, double seconds, ControlRun* run) {
  gPhase = "host threads against start, stop, Reconnect and Apply";
  const double start = NowMs();
  Exports x = BindExports(host.dll);
  run->homePort = run->editedPort = host.Port();
  run->homeUserNumber = SelectedUserNumber(host.window);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kHostThreads; ++i) threads.emplace_back([&, i] { CallExports(x, gSlots[i], stop); });
  std::minstd_rand random(11);
  while (NowMs() - start < seconds * 1000 || run->cycles < kMinControlCycles) {
    ControlCycle(host.window, x, random, run);
  }
  run->seconds = (NowMs() - start) / 1000;
  bool started = SettleAndStart(host, x, run);
  stop = true;
  for (std::thread& thread : threads) thread.join();
  return started;
}

void PrintControlRun(const ControlRun& run) {
  std::printf("control thread: %d cycles in %.1f s, each StartDetect then", run.cycles, run.seconds);
  for (int op = 0; op < kOperations; ++op) std::printf("%s %s %d", op ? "," : "", kOperationNames[op], run.done[op]);
  std::printf("\n");
  for (int i = 0; i < kHostThreads; ++i) {
    std::printf("%s: %llu calls\n", gSlots[i].name.c_str(), static_cast<unsigned long long>(gSlots[i].calls.load()));
  }
}

// ---- Phase 2: whole load and unload cycles.

bool WaitRunningOnce() {
  return testing_support::WaitUntil([] { return gRunning.ones.load() >= 1; }, kRunningTimeoutMs);
}

bool LibraryMapped() { return GetModuleHandleA("IxaLoader.dll") != nullptr; }

// A free without ShutdownOB(1) drops only the host's reference: the library
// runs on, a module report still reaches its window, and a load gets the
// same instance back.
bool FreeAloneKeepsItRunning(HMODULE dll) {
  {
    Inside in(gControl, "FreeLibrary without ShutdownOB(1)");
    FreeLibrary(dll);
  }
  auto report =
      reinterpret_cast<TestReportStatusFn>(reinterpret_cast<void*>(GetProcAddress(LoadedModule(), "TestReportStatus")));
  HWND window = testing_support::FindOwnWindow("Vexa Visualiser");
  if (!LibraryMapped() || report == nullptr || window == nullptr) return false;
  report(0, "reported after the free");
  if (!testing_support::WaitUntil(
          [&] { return testing_support::ControlText(window, kInfoLine) == "reported after the free"; },
          kTextTimeoutMs)) {
    return false;
  }
  Inside in(gControl, "LoadLibrary again");
  return LoadLibraryA("IxaLoader.dll") == dll;
}

const char* LoadCycle(int cycle, Latency* latency) {
  gRunning.Reset();
  HMODULE dll;
  {
    Inside in(gControl, "LoadLibrary");
    dll = LoadLibraryA("IxaLoader.dll");
  }
  if (dll == nullptr) return "did not load";
  Exports x = BindExports(dll);
  x.SetRunningCallback(&RecordRunning);
  {
    Inside in(gControl, "StartDetect");
    x.StartDetect();
  }
  if (!WaitRunningOnce()) return "did not reach running";
  if (cycle % 2 == 1 && !FreeAloneKeepsItRunning(dll)) return "did not run on after a free alone";
  TimedShutdown(x, 1, latency);
  {
    Inside in(gControl, "FreeLibrary");
    FreeLibrary(dll);
  }
  return LibraryMapped() ? "stayed mapped after ShutdownOB(1) and FreeLibrary" : nullptr;
}

// Passed cycles; stops at the first that fails.
int LoadCycles(Latency* latency) {
  gPhase = "load, start, running, ShutdownOB(1), FreeLibrary";
  for (int cycle = 0; cycle < kLoadCycles; ++cycle) {
    const char* failure = LoadCycle(cycle, latency);
    if (failure == nullptr) continue;
    std::printf("stress: FAILED: load cycle %d %s\n", cycle + 1, failure);
    return cycle;
  }
  std::printf("load cycles: %d, every other one freed once without ShutdownOB(1) first\n", kLoadCycles);
  return kLoadCycles;
}

// The last lines of a simulator's log, to show where a failing run stood.
void PrintLogTail(const char* title, const Console& console) {
  std::string log = console.Log();
  size_t from = log.size();
  for (int lines = 0; lines < 8 && from > 0; ++lines) from = log.rfind('\n', from - 2) + 1;
  std::printf("%s, last lines:\n%s", title, log.substr(from).c_str());
}

double ParseSeconds(int argc, char** argv) {
  if (argc == 1) return 30;
  if (argc == 3 && std::string(argv[1]) == "--seconds" && std::atof(argv[2]) > 0) return std::atof(argv[2]);
  std::fprintf(stderr, "usage: stress_host [--seconds N]   (first phase, default 30)\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = ParseSeconds(argc, argv);
  setvbuf(stdout, nullptr, _IONBF, 0);
  for (int i = 0; i < kHostThreads; ++i) gSlots[i].name = "host thread " + std::to_string(i + 1);
  gControl.name = "control thread";
  std::thread(Watch).detach();
  const double started = NowMs();

  std::unique_ptr<Host> host;
  {
    Inside in(gControl, "LoadLibrary");
    host = std::make_unique<Host>();
  }
  const std::string lifetime = std::to_string(static_cast<int>(seconds) + 120);
  Console console(host->Port(), lifetime);
  Console otherConsole(kOtherPort, lifetime);
  if (host->window == nullptr || !console.Ready() || !otherConsole.Ready()) {
    std::printf("stress: the status window or a console simulator did not come up\nstress: 0 passed, 1 failed\n");
    return 1;
  }

  int passed = 0;
  ControlRun control;
  passed += ControlPhase(*host, seconds, &control);
  {
    Inside in(gControl, "ShutdownOB(1) and FreeLibrary");
    host.reset();
  }
  PrintControlRun(control);
  Latency unload;
  passed += LoadCycles(&unload);

  std::printf("worst ShutdownOB latency: %.1f ms over %d ShutdownOB(0), %.1f ms over %d ShutdownOB(1)\n",
              control.shutdown.worst, control.shutdown.count, unload.worst, unload.count);
  const int failed = 1 + kLoadCycles - passed;
  if (failed > 0) {
    PrintLogTail("simulator on the stored port", console);
    PrintLogTail("simulator on the other port", otherConsole);
  }
  std::printf("stress: %d passed, %d failed (%.1f s)\n", passed, failed, (NowMs() - started) / 1000);
  return failed == 0 ? 0 : 1;
}
