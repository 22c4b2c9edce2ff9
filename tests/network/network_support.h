#pragma once

// What the network tests share: the console simulator as a child process,
// the real library loaded as a host loads it, the status window's lines and
// the stand-in module's test interface.

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "IxaLoader.h"
#include "ui/resource.h"

namespace network_test {

constexpr int kPortControl = IDC_PORT;
constexpr int kStatusLine = IDC_STATUS_LINE;
constexpr int kSessionLine = IDC_SESSION_LINE;
constexpr int kInfoLine = IDC_INFO_LINE;
constexpr int kReconnectButton = IDC_RECONNECT;
constexpr int kPatchButton = IDC_PATCH;

// Far above any real wait: only a hang or a lost step trips these.
constexpr DWORD kRunningTimeoutMs = 20000;
constexpr DWORD kTextTimeoutMs = 15000;
// ShutdownOB in any worker state must come back, not hang; how fast is
// bench/transfer_bench's job, so a busy machine fails nothing here.
constexpr double kPromptShutdownMs = 10000;

// console_simulator.exe on the given port, ended when destroyed.
class Simulator {
 public:
  Simulator(int port, const std::vector<std::string>& arguments);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool Ready() const { return ready_; }
  std::string Log() const;
  int Count(const std::string& text) const;
  bool WaitFor(const std::string& text, DWORD timeoutMs, int times = 1) const;
  void Stop();

 private:
  std::string logPath_;
  PROCESS_INFORMATION process_{};
  bool ready_ = false;
};

// The running callback's calls, across all library instances.
struct RunningCalls {
  std::atomic<int> ones{0};
  std::atomic<int> zeros{0};
  void Reset() {
    ones = 0;
    zeros = 0;
  }
};
extern RunningCalls gRunning;
void IXA_CALL RecordRunning(int32_t running);

// IxaLoader.dll loaded in this process, with its status window found.
class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  HMODULE dll = nullptr;
  HWND window = nullptr;
  IXA_PFN_StartDetect StartDetect = nullptr;
  IXA_PFN_StartDetectExt StartDetectExt = nullptr;
  IXA_PFN_ShutdownOB ShutdownOB = nullptr;
  IXA_PFN_SetRunningCallback SetRunningCallback = nullptr;
  IXA_PFN_GetDMXBuffer GetDMXBuffer = nullptr;
  IXA_PFN_SelectFixture SelectFixture = nullptr;

  int Port() const;
  std::string Line(int id) const;
  bool WaitForLine(int id, const std::string& text, DWORD timeoutMs = kTextTimeoutMs) const;
  // ShutdownOB(false), returning how long it took.
  double TimedShutdown();
  bool WaitRunning(int ones = 1, DWORD timeoutMs = kRunningTimeoutMs) const;
};

// One value under HKLM\SOFTWARE\Quennel Systems\Corvane III Orb, or its
// Policy subkey, removed again with the keys it had to make.
class StoredValue {
 public:
  // A REG_MULTI_SZ of the administrator's policy.
  StoredValue(const char* policyName, const std::vector<std::string>& entries);
  // A REG_DWORD setting, stored before a host loads the library.
  StoredValue(const char* settingName, uint32_t value);
  ~StoredValue();
  StoredValue(const StoredValue&) = delete;
  StoredValue& operator=(const StoredValue&) = delete;

 private:
  void Store(bool policy, DWORD type, const std::string& data);

  std::string key_;
  std::string name_;
  std::vector<std::string> made_;  // keys this made, innermost last
};

// Undoes every Windows Sockets start-up of this process, the worker's
// included, so that the worker's next discovery socket cannot be made;
// gives them back when restored or destroyed.
class SocketsWithdrawn {
 public:
  SocketsWithdrawn();
  ~SocketsWithdrawn() { Restore(); }
  SocketsWithdrawn(const SocketsWithdrawn&) = delete;
  SocketsWithdrawn& operator=(const SocketsWithdrawn&) = delete;
  void Restore();
  int Count() const { return withdrawn_; }

 private:
  int withdrawn_ = 0;
};

// Starts detection and, once the worker is scanning, withdraws the sockets
// under it: its next attempt shows the "DLL Error" box. The box, or null.
HWND StartIntoTheErrorBox(Host& host, std::unique_ptr<SocketsWithdrawn>* withdrawn);

// Brings a freshly loaded host to a state of its worker and window:
// "idle", "searching", "transfer stalled", "waiting for the loaded report",
// "running", "Patch dialog open" or "DLL Error box". A simulator it needs is
// made in *console, sockets it withdraws in *withdrawn. False when the state
// was not reached.
bool ReachState(Host& host, const std::string& state, std::unique_ptr<Simulator>* console,
                std::unique_ptr<SocketsWithdrawn>* withdrawn);
extern const char* const kHostStates[7];

// The stand-in module as loaded by the library ("Ixa.dll"), or none.
HMODULE LoadedModule();
std::string ModuleCallLog();
int ModuleLaunchCount(int32_t* lastPort, int32_t* lastOption);

// "<temp dir>IxaLoader-<pid>\Ixa.dll", where this process's first load saves.
std::string ImagePath();
// True when nobody holds the file open (or it does not exist).
bool FileIsFree(const std::string& path);

double NowMs();

}  // namespace network_test
