#include "os/win32/osprocess.h"

#include <windows.h>

#include <psapi.h>

#include "kellib/text.h"
#include "os/oslog.h"
#include "os/oslogcontexts.h"
#include "os/win32/handle.h"

namespace Os {
namespace {

constexpr const char* kSource = "os\\win32\\osprocess";

DWORD CreationFlags(int priority, bool detached, bool noWindow) {
  DWORD flags;
  switch (priority) {
    case Low:
      flags = BELOW_NORMAL_PRIORITY_CLASS;
      break;
    case High:
      flags = HIGH_PRIORITY_CLASS;
      break;
    case RealTime:
      flags = REALTIME_PRIORITY_CLASS;
      break;
    default:
      flags = NORMAL_PRIORITY_CLASS;
      break;
  }
  if (detached) flags |= DETACHED_PROCESS;
  if (noWindow) flags |= CREATE_NO_WINDOW;
  return flags;
}

void LogExitCodeFailure(const char* call, uint32_t pid, DWORD error, unsigned line) {
  Log::LogWithStack(Log::ProcessContext(), Log::kError, {kSource, "Os::Process::GetExitCode", line},
                    [&](kel::text& text) {
                      text.Append(call).Append(" failed on PID ").AppendUnsigned(pid);
                      text.Append(", error code ").AppendUnsigned(error);
                    });
}

}  // namespace

struct Process::Record {
  UniqueHandle process;
  UniqueHandle thread;
  uint32_t processId = 0;
  uint32_t threadId = 0;
  std::wstring executable;
  std::wstring arguments;
  std::wstring workingDirectory;
  std::wstring applicationPath;
  bool detached = false;
  bool noWindow = false;
  int priority = Default;

  void Release() {
    process.reset();
    thread.reset();
    processId = 0;
    threadId = 0;
  }
};

Process::Process(const std::wstring& executable, const std::wstring& arguments, const wchar_t* workingDirectory,
                 bool detached, bool /*unused*/, bool noWindow, int priority, const wchar_t* applicationPath)
    : record_(std::make_unique<Record>()) {
  record_->executable = executable;
  if (applicationPath != nullptr) record_->applicationPath = applicationPath;
  record_->arguments = arguments;
  if (workingDirectory != nullptr) record_->workingDirectory = workingDirectory;
  record_->detached = detached;
  record_->noWindow = noWindow;
  record_->priority = priority;
  Start();
}

Process::~Process() {
  uint32_t ignored = 0;
  Wait(&ignored, kInfinite);
}

bool Process::Start() {
  if (record_->process) return true;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  // The blank is written even for empty arguments.
  std::wstring commandLine = record_->executable + L" " + record_->arguments;
  PROCESS_INFORMATION info{};
  BOOL started = CreateProcessW(
      record_->applicationPath.empty() ? nullptr : record_->applicationPath.c_str(), &commandLine[0], nullptr, nullptr,
      FALSE, CreationFlags(record_->priority, record_->detached, record_->noWindow), nullptr,
      record_->workingDirectory.empty() ? nullptr : record_->workingDirectory.c_str(), &startup, &info);
  if (started) {
    record_->process.reset(info.hProcess);
    record_->thread.reset(info.hThread);
    record_->processId = info.dwProcessId;
    record_->threadId = info.dwThreadId;
    return true;
  }
  DWORD error = GetLastError();
  Log::LogWithStack(Log::ProcessContext(), Log::kCritical, {kSource, "Os::Process::Start", 227}, [&](kel::text& text) {
    text.Append("Failed to start process '").Append(record_->executable.c_str());
    text.Append("', error code ").AppendUnsigned(error);
  });
  return false;
}

bool Process::IsStarted() const { return static_cast<bool>(record_->process); }

uint32_t Process::GetId() const { return record_->processId; }

bool Process::Wait(uint32_t* exitCode, uint32_t timeoutMs) {
  bool ended = GetExitCode(record_->processId, exitCode, timeoutMs);
  if (ended) record_->Release();
  return ended;
}

void Process::Detach() {
  if (record_->process) record_->Release();
}

bool Process::GetExitCode(uint32_t pid, uint32_t* exitCode, uint32_t timeoutMs) {
  if (pid == 0) return false;
  UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
  if (!process) {
    DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER) {  // no such process any more
      *exitCode = 0;
      return true;
    }
    LogExitCodeFailure("OpenProcess()", pid, error, 464);
    return false;
  }
  WaitForSingleObject(process.get(), timeoutMs);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) {
    LogExitCodeFailure("GetExitCodeProcess()", pid, GetLastError(), 477);
    return false;
  }
  if (code == STILL_ACTIVE) return false;
  *exitCode = code;
  return true;
}

std::wstring Process::GetProcessName(uint32_t pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return std::wstring();
  HMODULE module = nullptr;
  DWORD needed = 0;
  if (!EnumProcessModules(process.get(), &module, sizeof(module), &needed)) return std::wstring();
  wchar_t name[256];
  DWORD length = GetModuleBaseNameW(process.get(), module, name, 256);
  return std::wstring(name, length);
}

std::wstring Process::GetCurrentProcessName() { return GetProcessName(GetCurrentProcessId()); }

std::wstring Process::QuoteArgument(const std::wstring& s) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;  // the run just written, which a quote after it would halve
  for (wchar_t c : s) {
    if (c == L'"') quoted.append(backslashes + 1, L'\\');
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    quoted += c;
  }
  quoted.append(backslashes, L'\\');
  return quoted + L"\"";
}

}  // namespace Os
