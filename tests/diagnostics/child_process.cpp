#include "child_process.h"

#include <cstdlib>
#include <map>
#include <memory>

#include <windows.h>

#include "child_modes.h"
#include "tests/support/test_support.h"

std::wstring OwnExecutablePath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  char old[1024];
  DWORD length = GetEnvironmentVariableA(name, old, sizeof(old));
  had_ = length > 0 && length < sizeof(old);
  if (had_) old_.assign(old, length);
  SetEnvironmentVariableA(name, value);
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr); }

StartedChild::StartedChild(const std::string& mode,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<std::unique_ptr<ScopedEnvironment>> scoped;
  scoped.push_back(std::make_unique<ScopedEnvironment>("IXA_CHILD_MODE", mode.c_str()));
  for (const auto& variable : environment) {
    scoped.push_back(std::make_unique<ScopedEnvironment>(variable.first.c_str(), variable.second.c_str()));
  }
  std::wstring commandLine = L"\"" + OwnExecutablePath() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!testing_support::StartChildProcess([&] {
        return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
      })) {
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
}

StartedChild::~StartedChild() { Wait(); }

ChildResult StartedChild::Wait() {
  ChildResult result;
  if (process_ == nullptr) return result;
  result.pid = pid_;
  // A child that hangs must not hang the test run.
  if (WaitForSingleObject(process_, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 0xDEAD);
    WaitForSingleObject(process_, INFINITE);
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  result.exitCode = code;
  CloseHandle(process_);
  process_ = nullptr;
  return result;
}

ChildResult RunChild(const std::string& mode, const std::vector<std::pair<std::string, std::string>>& environment) {
  return StartedChild(mode, environment).Wait();
}

bool RunChildModeIfAsked(int* exitCode) {
  char mode[128];
  DWORD length = GetEnvironmentVariableA("IXA_CHILD_MODE", mode, sizeof(mode));
  if (length == 0 || length >= sizeof(mode)) return false;
  // The child's own children must not take the mode over.
  SetEnvironmentVariableA("IXA_CHILD_MODE", nullptr);
  for (const ChildMode& child : ChildModes()) {
    if (std::string(mode) == child.name) {
      *exitCode = child.run();
      return true;
    }
  }
  *exitCode = 250;
  return true;
}
