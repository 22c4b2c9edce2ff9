// The work of this executable when a test starts it as a child process: each
// mode runs in a fresh process so that the log manager reads its settings
// from the environment, or so that a trap can end it.
#include "child_modes.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <windows.h>

#include "kellib/exception.h"
#include "kellib/text.h"
#include "os/osfilelogwriter.h"
#include "os/oslog.h"
#include "os/oslogcontexts.h"
#include "os/oslogmanager.h"
#include "os/osthreadname.h"
#include "os/ostrap.h"
#include "os/win32/debughelp.h"

namespace {

void Record(unsigned line, const std::string& text, const char* file = "tests\\floodsite") {
  Os::Log::WriteWithStack(Os::Log::OsContext(), Os::Log::kError, file, "ChildMode", line,
                          kel::text::Make(text.c_str()));
}

void ReportFloodSettings() {
  Os::Log::Manager& manager = Os::Log::Manager::Instance();
  std::string settings =
      "settings period=" + std::to_string(manager.FloodPeriodMs()) + " count=" + std::to_string(manager.FloodCount());
  OutputDebugStringA(settings.c_str());
}

// A pause that ends any burst: the tests widen the period, so that a record
// stalled on a busy machine stays inside its burst.
void PauseLongerThanTheFloodPeriod() { Sleep(Os::Log::Manager::Instance().FloodPeriodMs() * 3 / 2 + 10); }

int Flood() {
  for (int i = 0; i < 200; ++i) Record(42, "flood record " + std::to_string(i));
  PauseLongerThanTheFloodPeriod();
  Record(42, "after pause");
  return 0;
}

int FloodSettings() {
  ReportFloodSettings();
  Record(7, "first");
  PauseLongerThanTheFloodPeriod();
  Record(7, "second after a pause");
  Record(7, "third at once");
  return 0;
}

// Tells the debugger output what it received.
class RecordingWriter : public Os::Log::Writer {
 public:
  using Writer::Writer;
  bool Write(const Os::Log::Record& record) override {
    std::string text = "recorder got: " + std::string(record.text, record.textLength);
    OutputDebugStringA(text.c_str());
    return true;
  }
};

class KelThrowingWriter : public Os::Log::Writer {
 public:
  using Writer::Writer;
  bool Write(const Os::Log::Record&) override { throw kel::runtime(L"writer failure"); }
};

class StdThrowingWriter : public Os::Log::Writer {
 public:
  using Writer::Writer;
  bool Write(const Os::Log::Record&) override { throw std::runtime_error("boom"); }
};

template <typename Thrower>
int ThrowingWriter() {
  Os::Log::Manager& manager = Os::Log::Manager::Instance();
  manager.AddWriter(kel::counted_ref<Os::Log::Writer>(new RecordingWriter("Recorder")));
  manager.AddWriter(kel::counted_ref<Os::Log::Writer>(new Thrower("Thrower")));
  Record(1, "one");
  Record(2, "two");
  return 0;
}

__attribute__((noipa)) void TrapSiteForTest(int value) { OS_TRAP_IF(value == 5, "tests\\diagnostics\\trapsite", 77); }

int Trap() {
  Os::SetThreadName(GetCurrentThreadId(), L"TrapThread");
  TrapSiteForTest(5);
  return 0;  // not reached
}

struct Seen {
  HANDLE go;
  void* manager;
  void* context;
};

DWORD WINAPI AskFirst(void* argument) {
  auto* mine = static_cast<Seen*>(argument);
  WaitForSingleObject(mine->go, INFINITE);
  mine->context = &Os::Log::ProcessContext();
  mine->manager = &Os::Log::Manager::Instance();
  return 0;
}

// Many threads ask for the Manager and a context for the first time at once;
// each must be built exactly once.
int FirstUseRace() {
  constexpr int kThreads = 8;
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Seen seen[kThreads];
  HANDLE threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    seen[i] = Seen{go, nullptr, nullptr};
    threads[i] = CreateThread(nullptr, 0, AskFirst, &seen[i], 0, nullptr);
  }
  Sleep(50);
  SetEvent(go);
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  int differing = 0;
  for (int i = 0; i < kThreads; ++i) {
    CloseHandle(threads[i]);
    if (seen[i].manager != seen[0].manager || seen[i].context != seen[0].context) ++differing;
  }
  CloseHandle(go);
  return seen[0].manager == nullptr ? 99 : differing;
}

std::string Environment(const char* name) {
  char value[1024];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

int EchoCommandLine() {
  std::string narrowPath = Environment("IXA_ECHO_FILE");
  std::wstring path(narrowPath.begin(), narrowPath.end());
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file != nullptr) {
    const wchar_t* line = GetCommandLineW();
    std::fwrite(line, sizeof(wchar_t), wcslen(line), file);
    std::fclose(file);
  }
  return std::atoi(Environment("IXA_EXIT_CODE").c_str());
}

// Appends IXA_LINES records through a writer of its own on the folder
// IXA_LOG_FOLDER, as a host process beside others would.
int AppendLines() {
  Os::FileLogWriter writer("File", kel::Widen(Environment("IXA_LOG_FOLDER")), L"IxaLoader");
  const std::string text = "line of " + std::to_string(GetCurrentProcessId()) + " " + std::string(120, '-');
  const int lines = std::atoi(Environment("IXA_LINES").c_str());
  for (int i = 0; i < lines; ++i) {
    Os::Log::Record record{static_cast<uint32_t>(i),
                           nullptr,
                           Os::Log::kError,
                           GetCurrentProcessId(),
                           "child",
                           1,
                           "main",
                           "append",
                           "AppendLines",
                           1,
                           text.c_str(),
                           text.size()};
    if (!writer.Write(record)) return 1;
  }
  return 0;
}

// Exit code 1 when the log manager has a log file to write to.
int HasLogFile() {
  static Os::Log::Context context("FileCheck", true);
  return Os::Log::Manager::Instance().WriteToFileOnly(&context, Os::Log::kError, "check", "HasLogFile", 1, "x", 1) ? 1
                                                                                                                   : 0;
}

int SleepThenExit() {
  Sleep(static_cast<DWORD>(std::atoi(Environment("IXA_SLEEP_MS").c_str())));
  return 7;
}

// 0 when the debug help library loads, and from the system folder.
int DebugHelpFolder() {
  wchar_t loaded[MAX_PATH] = L"";
  wchar_t system[MAX_PATH] = L"";
  if (Os::LoadDebugHelp()) GetModuleFileNameW(GetModuleHandleW(L"dbghelp.dll"), loaded, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  return _wcsicmp(loaded, (std::wstring(system) + L"\\dbghelp.dll").c_str()) == 0 ? 0 : 1;
}

}  // namespace

const std::vector<ChildMode>& ChildModes() {
  static const std::vector<ChildMode> modes = {
      {"flood", Flood},
      {"flood-settings", FloodSettings},
      {"kel-throwing-writer", ThrowingWriter<KelThrowingWriter>},
      {"std-throwing-writer", ThrowingWriter<StdThrowingWriter>},
      {"trap", Trap},
      {"echo-command-line", EchoCommandLine},
      {"sleep", SleepThenExit},
      {"first-use-race", FirstUseRace},
      {"append-lines", AppendLines},
      {"has-log-file", HasLogFile},
      {"debug-help-folder", DebugHelpFolder},
  };
  return modes;
}
