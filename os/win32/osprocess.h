#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "os/ospriority.h"

namespace Os {

// Owns one child process, started by the constructor. Destroying a Process
// whose child was neither waited for nor detached blocks until it exits.
class Process {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFF;

  // The command line is executable, one blank, arguments. workingDirectory
  // may be null (the caller's own). applicationPath, when given, is the full
  // path of the file to run, so that Windows searches no folder for it; the
  // command line stays the same. Succeeds whether or not the start did: ask
  // IsStarted.
  Process(const std::wstring& executable, const std::wstring& arguments, const wchar_t* workingDirectory, bool detached,
          bool unused, bool noWindow, int priority, const wchar_t* applicationPath = nullptr);
  virtual ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // True when the child runs (or already ran) under this object; logs at
  // level 16 and returns false when it cannot be started.
  bool Start();
  bool IsStarted() const;
  uint32_t GetId() const;
  // True with the exit code once the child has ended within the time-out;
  // the handles are then released.
  bool Wait(uint32_t* exitCode, uint32_t timeoutMs);
  // Lets the child run on without this object.
  void Detach();

  // True with the exit code of an ended process (0 for one that no longer
  // exists); false for pid 0, a process still running after the time-out,
  // or a failure (logged).
  static bool GetExitCode(uint32_t pid, uint32_t* exitCode, uint32_t timeoutMs);
  // The base name of the process's main module; empty on any failure.
  static std::wstring GetProcessName(uint32_t pid);
  static std::wstring GetCurrentProcessName();
  // Encloses s in double quotes so that CommandLineToArgvW and the C runtime
  // read back exactly s: n backslashes before a quote of s become 2n+1 and
  // the quote, n before the closing quote become 2n, any others stay.
  static std::wstring QuoteArgument(const std::wstring& s);

 private:
  struct Record;
  std::unique_ptr<Record> record_;
};

}  // namespace Os
