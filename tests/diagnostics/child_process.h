#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

// Runs this test executable again as a child in the given mode (see
// test_main.cpp), with extra environment variables, and waits for it.
struct ChildResult {
  uint32_t pid = 0;
  uint32_t exitCode = 0;
};
ChildResult RunChild(const std::string& mode, const std::vector<std::pair<std::string, std::string>>& environment = {});

// The same, started without waiting: for children that run side by side.
class StartedChild {
 public:
  StartedChild(const std::string& mode, const std::vector<std::pair<std::string, std::string>>& environment = {});
  ~StartedChild();
  StartedChild(const StartedChild&) = delete;
  StartedChild& operator=(const StartedChild&) = delete;
  // Waits for it (once).
  ChildResult Wait();

 private:
  HANDLE process_ = nullptr;
  uint32_t pid_ = 0;
};

// The full path of this executable.
std::wstring OwnExecutablePath();

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// Runs the child mode named by IXA_CHILD_MODE, if any; returns its exit code
// through exitCode and true when this process is such a child.
bool RunChildModeIfAsked(int* exitCode);
