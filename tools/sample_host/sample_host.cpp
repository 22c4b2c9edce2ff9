// A host as a visualiser would be one: loads IxaLoader.dll by name, looks up
// its exports, starts detection, reads universes, sends commands and shuts
// down, printing each step with its time.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IxaLoader.h"

namespace {

struct Options {
  std::string dll = "IxaLoader.dll";
  int launchOption = 0;
  DWORD waitRunningMs = 0;
  double readSeconds = 0;
  int rows = 4;
  bool commands = false;
  bool showConsole = false;
  bool closeWindow = true;
  bool shutdown = true;
};

struct Exports {
  IXA_PFN_StartDetectExt StartDetectExt;
  IXA_PFN_ShutdownOB ShutdownOB;
  IXA_PFN_SetRunningCallback SetRunningCallback;
  IXA_PFN_GetDMXBuffer GetDMXBuffer;
  IXA_PFN_ClearProgrammer ClearProgrammer;
  IXA_PFN_SelectNone SelectNone;
  IXA_PFN_SelectFixture SelectFixture;
  IXA_PFN_SetFixturePanTilt SetFixturePanTilt;
  IXA_PFN_SetFixtureIntensity SetFixtureIntensity;
};

LARGE_INTEGER gStart, gFrequency;
std::atomic<int> gRunning{-1};
HANDLE gRunningEvent;

double ElapsedMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart - gStart.QuadPart) / static_cast<double>(gFrequency.QuadPart);
}

void Step(const char* format, ...) {
  std::printf("[%9.1f ms] ", ElapsedMs());
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

void IXA_CALL OnRunning(int32_t running) {
  gRunning.store(running);
  if (running == 1) SetEvent(gRunningEvent);
}

template <typename Fn>
bool Lookup(HMODULE dll, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  if (*out == nullptr) Step("missing export %s", name);
  return *out != nullptr;
}

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs %s\n", arg.c_str(), what);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--dll")
      options->dll = next("a path");
    else if (arg == "--launch-option")
      options->launchOption = std::atoi(next("a number"));
    else if (arg == "--wait-running")
      options->waitRunningMs = static_cast<DWORD>(std::atoi(next("milliseconds")));
    else if (arg == "--read-seconds")
      options->readSeconds = std::atof(next("seconds"));
    else if (arg == "--rows")
      options->rows = std::atoi(next("a count"));
    else if (arg == "--commands")
      options->commands = true;
    else if (arg == "--show-console")
      options->showConsole = true;
    else if (arg == "--keep-window")
      options->closeWindow = false;
    else if (arg == "--no-shutdown")
      options->shutdown = false;
    else {
      std::fprintf(stderr,
                   "usage: sample_host [--dll PATH] [--launch-option N] [--wait-running MS]\n"
                   "                   [--read-seconds S] [--rows N] [--commands] [--keep-window]\n"
                   "                   [--no-shutdown] [--show-console]\n"
                   "  --show-console  also print what the stand-in processor module saw\n");
      return false;
    }
  }
  return true;
}

// The library's window in this process: another host on the desktop may
// show one of the same title.
BOOL CALLBACK MatchStatusWindow(HWND hwnd, LPARAM found) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char title[64] = "";
  GetWindowTextA(hwnd, title, sizeof(title));
  if (pid != GetCurrentProcessId() || std::strcmp(title, "Vexa Visualiser") != 0 || !IsWindowVisible(hwnd)) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

HWND FindStatusWindow(DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 20) {
    HWND hwnd = nullptr;
    EnumWindows(&MatchStatusWindow, reinterpret_cast<LPARAM>(&hwnd));
    if (hwnd != nullptr || waited >= timeoutMs) return hwnd;
    Sleep(20);
  }
}

// Reads the rows for the given time, noting each time a row's data
// changes; prints one line per row with its measured frame rate.
void ReadUniverses(const Exports& x, const Options& options) {
  constexpr int kMaxRows = 64;
  const int rows = options.rows < kMaxRows ? options.rows : kMaxRows;
  long long reads = 0;
  int served[kMaxRows] = {};
  int frames[kMaxRows] = {};
  unsigned char last[kMaxRows][8] = {};
  double start = ElapsedMs();
  do {
    for (int row = 0; row < rows; ++row) {
      unsigned char* data = nullptr;
      if (x.GetDMXBuffer(static_cast<uint16_t>(row), &data)) ++served[row];
      if (data != nullptr && std::memcmp(last[row], data, sizeof(last[row])) != 0) {
        std::memcpy(last[row], data, sizeof(last[row]));
        ++frames[row];
      }
      ++reads;
    }
    Sleep(2);
  } while (ElapsedMs() - start < options.readSeconds * 1000.0);
  double seconds = (ElapsedMs() - start) / 1000.0;
  for (int row = 0; row < rows; ++row) {
    if (!served[row]) {
      Step("  universe %2d: blank", row + 1);
      continue;
    }
    Step("  universe %2d: live, %4d frames, %5.1f frames/s, now %02x %02x %02x %02x %02x %02x", row + 1, frames[row],
         seconds > 0 ? frames[row] / seconds : 0.0, last[row][0], last[row][1], last[row][2], last[row][3],
         last[row][4], last[row][5]);
  }
  if (seconds > 0) Step("  %lld reads in %.2f s", reads, seconds);
}

void ShowStatusLines(HWND window) {
  if (window == nullptr) return;
  // The texts are posted to the window; give its thread a moment to show them.
  Sleep(200);
  char status[128] = "";
  char info[128] = "";
  char session[128] = "";
  GetDlgItemTextA(window, 1005, status, sizeof(status));
  GetDlgItemTextA(window, 1007, info, sizeof(info));
  GetDlgItemTextA(window, 1006, session, sizeof(session));
  Step("  status window: Status \"%s\", Info \"%s\", Session \"%s\"", status, info, session);
}

// The stand-in processor module keeps what it was called with; the demo
// shows it as the console's side of the conversation. A console's real
// module has none of these entries: then nothing is shown.
typedef int32_t(__cdecl* TestCallLogFn)(char* out, int32_t capacity);
typedef int32_t(__cdecl* TestMessageCountFn)(void);
typedef int32_t(__cdecl* TestGetMessageFn)(int32_t index, uint8_t* out, int32_t capacity);

template <typename Fn>
Fn ConsoleModuleEntry(const char* name) {
  HMODULE module = GetModuleHandleA("Ixa.dll");
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

void ShowModuleCalls() {
  auto callLog = ConsoleModuleEntry<TestCallLogFn>("TestCallLog");
  if (callLog == nullptr) return;
  char calls[2048];
  callLog(calls, sizeof(calls));
  Step("  processor module was called: %s", calls);
}

void ShowConsoleMessages() {
  auto count = ConsoleModuleEntry<TestMessageCountFn>("TestMessageCount");
  auto get = ConsoleModuleEntry<TestGetMessageFn>("TestGetMessage");
  if (count == nullptr || get == nullptr) return;
  int total = count();
  Step("  processor module received %d command message(s)", total);
  for (int i = 0; i < total; ++i) {
    uint8_t message[256];
    int length = get(i, message, sizeof(message));
    std::string hex;
    for (int b = 0; b < length && b < static_cast<int>(sizeof(message)); ++b) {
      char byte[4];
      std::snprintf(byte, sizeof(byte), " %02x", message[b]);
      hex += byte;
    }
    Step("    %2d:%s", i + 1, hex.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  QueryPerformanceFrequency(&gFrequency);
  QueryPerformanceCounter(&gStart);
  Options options;
  if (!Parse(argc, argv, &options)) return 2;
  gRunningEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  Step("loading %s", options.dll.c_str());
  HMODULE dll = LoadLibraryA(options.dll.c_str());
  if (dll == nullptr) {
    Step("LoadLibrary failed, error %lu", GetLastError());
    return 1;
  }
  Exports x{};
  bool found = Lookup(dll, "StartDetectExt", &x.StartDetectExt) & Lookup(dll, "ShutdownOB", &x.ShutdownOB) &
               Lookup(dll, "SetRunningCallback", &x.SetRunningCallback) & Lookup(dll, "GetDMXBuffer", &x.GetDMXBuffer) &
               Lookup(dll, "ClearProgrammer", &x.ClearProgrammer) & Lookup(dll, "SelectNone", &x.SelectNone) &
               Lookup(dll, "SelectFixture", &x.SelectFixture) & Lookup(dll, "SetFixturePanTilt", &x.SetFixturePanTilt) &
               Lookup(dll, "SetFixtureIntensity", &x.SetFixtureIntensity);
  if (!found) return 1;
  Step("loaded; all exports found");

  // A busy machine may take a while to show it.
  HWND window = FindStatusWindow(20000);
  Step(window ? "status window is shown" : "status window did not appear");

  x.SetRunningCallback(&OnRunning);
  Step("StartDetectExt(%d) returned %d", options.launchOption, x.StartDetectExt(options.launchOption));

  if (options.waitRunningMs > 0) {
    bool running = WaitForSingleObject(gRunningEvent, options.waitRunningMs) == WAIT_OBJECT_0;
    Step(running ? "running callback: 1 (processor running, patch resolved)" : "processor did not start within %lu ms",
         options.waitRunningMs);
    ShowStatusLines(window);
    if (options.showConsole) ShowModuleCalls();
  }

  ReadUniverses(x, options);

  if (options.commands) {
    x.SelectFixture(1);
    x.SetFixturePanTilt(1, 1000, 8191);
    x.SetFixtureIntensity(1, 255);
    x.SelectNone();
    x.ClearProgrammer();
    Step(
        "sent SelectFixture(1), SetFixturePanTilt(1, 1000, 8191), SetFixtureIntensity(1, 255), "
        "SelectNone, ClearProgrammer");
    if (options.showConsole) ShowConsoleMessages();
  }

  double before = ElapsedMs();
  if (options.shutdown) {
    x.ShutdownOB(options.closeWindow ? 1 : 0);
    Step("ShutdownOB(%s) took %.1f ms; running callback last saw %d", options.closeWindow ? "true" : "false",
         ElapsedMs() - before, gRunning.load());
    Step("  processor module %s", GetModuleHandleA("Ixa.dll") ? "still loaded" : "unloaded");
  }

  // Only after ShutdownOB(1) does FreeLibrary unmap the library; without it
  // the library runs on until the process ends.
  before = ElapsedMs();
  FreeLibrary(dll);
  Step("FreeLibrary returned in %.1f ms; the library is %s", ElapsedMs() - before,
       GetModuleHandleA(options.dll.c_str()) != nullptr ? "still loaded (no ShutdownOB(1) before it)" : "unmapped");
  return window != nullptr ? 0 : 1;
}
