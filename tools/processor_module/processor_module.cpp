// A stand-in for the console's virtual processor module: serves patterned,
// animated DMX per (port, universe), records what the loader sends, and
// reports its start-up through the status callback from a thread of its own.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "loader/processor_api.h"
#include "tools/processor_module/test_api.h"

#ifdef MODULE_MISSING_DEPENDENCY
extern "C" __declspec(dllimport) int __cdecl AbsentFunction(void);
#endif

#ifndef MODULE_REQUIRED_VERSION
#define MODULE_REQUIRED_VERSION 310
#endif

namespace {

constexpr int kPorts = 16;
constexpr int kUniverses = 16;
constexpr int kUniverseSize = 512;
constexpr DWORD kFramePeriodMs = 25;

struct ModuleState {
  CRITICAL_SECTION lock;
  std::vector<int32_t> nodes{1, 2};
  std::vector<int32_t> ports{0, 1};
  int32_t version = MODULE_REQUIRED_VERSION;
  // The entry point that faults when called ("" for none).
  std::string faultingEntry;
  // How long SendMIDICommands takes, as a hung module's call would.
  DWORD sendMs = 0;
  std::vector<std::vector<uint8_t>> messages;
  std::string callLog;
  int32_t launchCount = 0;
  int32_t lastPort = 0;
  int32_t lastOption = 0;
  std::atomic<StatusCallbackFn> statusCallback{nullptr};
  std::atomic<uint32_t> frame{0};
  std::atomic<bool> running{false};
  std::atomic<bool> shuttingDown{false};
  std::atomic<int32_t> callsInShutdown{0};
  HANDLE worker = nullptr;
  LARGE_INTEGER attachedAt{};
  uint8_t dmx[kPorts][kUniverses][kUniverseSize];
};

ModuleState* gState = nullptr;

class Guard {
 public:
  Guard() { EnterCriticalSection(&gState->lock); }
  ~Guard() { LeaveCriticalSection(&gState->lock); }
};

void Log(const std::string& entry) {
  Guard guard;
  if (!gState->callLog.empty()) gState->callLog += ',';
  gState->callLog += entry;
}

std::vector<int32_t> ParseList(const char* text) {
  std::vector<int32_t> values;
  while (text != nullptr && *text != '\0') {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text) break;
    values.push_back(static_cast<int32_t>(value));
    text = (*end == ',') ? end + 1 : end;
  }
  return values;
}

// Read from the process, not the C runtime's copy taken at process start,
// so a host may set it just before the module loads.
bool Environment(const char* name, std::string* value) {
  char text[256];
  DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
  if (length == 0 || length >= sizeof(text)) return false;
  value->assign(text, length);
  return true;
}

void ConfigureFromEnvironment() {
  std::string value;
  if (Environment("IXA_MODULE_NODES", &value)) gState->nodes = ParseList(value.c_str());
  if (Environment("IXA_MODULE_PORTS", &value)) gState->ports = ParseList(value.c_str());
  if (Environment("IXA_MODULE_VERSION", &value)) gState->version = std::atoi(value.c_str());
  if (Environment("IXA_MODULE_FAULT", &value)) gState->faultingEntry = value == "1" ? "GetPortBuffer" : value;
  if (Environment("IXA_MODULE_SEND_MS", &value)) gState->sendMs = static_cast<DWORD>(std::atoi(value.c_str()));
}

// GetPortBuffer asks on every read: no name is compared while none is set,
// so the module costs what a real one would.
bool Faults(const char* entry) { return !gState->faultingEntry.empty() && gState->faultingEntry == entry; }

// An entry point named in IXA_MODULE_FAULT ends in an access violation, as
// a broken module's would.
void FaultIfNamed(const char* entry) {
  if (Faults(entry)) *static_cast<volatile int*>(nullptr) = 0;
}

void DrawFrame(uint32_t frame) {
  for (int port = 0; port < kPorts; ++port)
    for (int universe = 0; universe < kUniverses; ++universe)
      for (int i = 0; i < kUniverseSize; ++i)
        gState->dmx[port][universe][i] = ProcessorPatternByte(port, universe, frame, i);
}

void Report(int32_t code, const char* text) {
  if (StatusCallbackFn callback = gState->statusCallback.load()) callback(code, text);
}

DWORD WINAPI ProcessorThread(void*) {
  Report(0, "");
  Report(1, "VexaNet");
  Report(2, "Session 1");
#ifndef MODULE_NEVER_LOADED
  Report(5, "");
#endif
  while (gState->running.load()) {
    Sleep(kFramePeriodMs);
    DrawFrame(gState->frame.fetch_add(1) + 1);
  }
  return 0;
}

// Left in the process's environment, which outlives the module once the
// loader frees it.
void RecordShutdownTime(const LARGE_INTEGER& enteredAt) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const long long us = (now.QuadPart - enteredAt.QuadPart) * 1000000 / frequency.QuadPart;
  SetEnvironmentVariableA(kShutdownTimeVariable, std::to_string(us).c_str());
}

}  // namespace

extern "C" {

int32_t __cdecl GetNumPorts(void) {
#ifdef MODULE_MISSING_DEPENDENCY
  return AbsentFunction();
#else
  return kPorts;
#endif
}
int32_t __cdecl GetNumChannels(void) { return kUniverseSize; }

int32_t __cdecl GetPortBuffer(uint32_t port, int32_t universe, uint8_t** buffer) {
  if (Faults("GetPortBuffer")) RaiseException(0xE0490001, 0, 0, nullptr);
  if (gState->shuttingDown.load(std::memory_order_relaxed)) gState->callsInShutdown.fetch_add(1);
  if (port >= kPorts || universe < 0 || universe >= kUniverses || buffer == nullptr) return 0;
  *buffer = gState->dmx[port][universe];
  return 1;
}

int32_t __cdecl LaunchOBExt(int32_t port, int32_t launchOption) {
  FaultIfNamed("LaunchOBExt");
  {
    Guard guard;
    ++gState->launchCount;
    gState->lastPort = port;
    gState->lastOption = launchOption;
  }
  Log("LaunchOBExt(" + std::to_string(port) + "," + std::to_string(launchOption) + ")");
  if (gState->running.exchange(true)) return 1;
  gState->worker = CreateThread(nullptr, 0, &ProcessorThread, nullptr, 0, nullptr);
  return 1;
}

int32_t __cdecl GetAvailableNodes(int32_t* nodes, int32_t capacity) {
  FaultIfNamed("GetAvailableNodes");
  Log("GetAvailableNodes(" + std::to_string(capacity) + ")");
  Guard guard;
  int32_t count = static_cast<int32_t>(gState->nodes.size());
  // A module may claim more nodes than it was given room for; the loader
  // must cope, so this one writes only what fits and still answers the count.
  for (int32_t i = 0; i < count && i < capacity; ++i) nodes[i] = gState->nodes[i];
  return count;
}

int32_t __cdecl ConnectToNode(int32_t node) {
  FaultIfNamed("ConnectToNode");
  Log("ConnectToNode(" + std::to_string(node) + ")");
  Guard guard;
  for (size_t i = 0; i < gState->nodes.size(); ++i) {
    if (gState->nodes[i] == node) return i < gState->ports.size() ? gState->ports[i] : -1;
  }
  return -1;
}

#ifndef MODULE_MISSING_ENTRY
int32_t __cdecl DisconnectFromNode(int32_t) { return 1; }
#endif

int32_t __cdecl ShutdownOB(void) {
  LARGE_INTEGER enteredAt;
  QueryPerformanceCounter(&enteredAt);
  Log("ShutdownOB");
  gState->shuttingDown.store(true);
  if (gState->running.exchange(false) && gState->worker != nullptr) {
    WaitForSingleObject(gState->worker, INFINITE);
    CloseHandle(gState->worker);
    gState->worker = nullptr;
  }
  gState->statusCallback.store(nullptr);
  RecordShutdownTime(enteredAt);
  SetEnvironmentVariableA(kCallsInShutdownVariable, std::to_string(gState->callsInShutdown.load()).c_str());
  gState->shuttingDown.store(false);
  // Faults only once its thread is stopped: the module may then be freed.
  FaultIfNamed("ShutdownOB");
  return 1;
}

void __cdecl SetStatusCallback(StatusCallbackFn callback) {
  FaultIfNamed("SetStatusCallback");
  Log("SetStatusCallback");
  gState->statusCallback.store(callback);
}

int32_t __cdecl StartPatchOperation(void) { return 1; }
int32_t __cdecl SendPatch(void) { return 1; }
int32_t __cdecl FinishPatchOperation(void) { return 1; }
int32_t __cdecl ClearPatchFromOB(void) { return 1; }

int32_t __cdecl SendMIDICommands(int32_t, int32_t length, const uint8_t* message) {
  if (gState->sendMs != 0) {
    SetEnvironmentVariableA(kInSendVariable, "1");
    Sleep(gState->sendMs);
  }
  if (length < 0 || message == nullptr) return 0;
  Guard guard;
  gState->messages.emplace_back(message, message + length);
  return 1;
}

int32_t __cdecl GetLoaderVersion(int32_t* version) {
  FaultIfNamed("GetLoaderVersion");
  Log("GetLoaderVersion");
  *version = gState->version;
  return 1;
}

int32_t __cdecl ChangeUserNum(int32_t userNumber) {
  FaultIfNamed("ChangeUserNum");
  Log("ChangeUserNum(" + std::to_string(userNumber) + ")");
  return 1;
}

void __cdecl TestConfigure(const int32_t* nodes, const int32_t* ports, int32_t count, int32_t version,
                           int32_t faultingPortBuffer) {
  Guard guard;
  gState->nodes.assign(nodes, nodes + count);
  gState->ports.assign(ports, ports + count);
  gState->version = version;
  gState->faultingEntry = faultingPortBuffer != 0 ? "GetPortBuffer" : "";
}

int32_t __cdecl TestMessageCount(void) {
  Guard guard;
  return static_cast<int32_t>(gState->messages.size());
}

int32_t __cdecl TestGetMessage(int32_t index, uint8_t* out, int32_t capacity) {
  Guard guard;
  if (index < 0 || index >= static_cast<int32_t>(gState->messages.size())) return -1;
  const std::vector<uint8_t>& message = gState->messages[index];
  int32_t length = static_cast<int32_t>(message.size());
  std::memcpy(out, message.data(), static_cast<size_t>(length < capacity ? length : capacity));
  return length;
}

int32_t __cdecl TestCallLog(char* out, int32_t capacity) {
  Guard guard;
  int32_t length = static_cast<int32_t>(gState->callLog.size());
  if (capacity > 0) {
    int32_t copied = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(out, gState->callLog.data(), static_cast<size_t>(copied));
    out[copied] = '\0';
  }
  return length;
}

int32_t __cdecl TestLaunchCount(int32_t* lastPort, int32_t* lastOption) {
  Guard guard;
  if (lastPort != nullptr) *lastPort = gState->lastPort;
  if (lastOption != nullptr) *lastOption = gState->lastOption;
  return gState->launchCount;
}

void __cdecl TestReportStatus(int32_t code, const char* text) { Report(code, text); }

struct LateReport {
  DWORD delayMs;
  int32_t code;
  std::string text;
};

DWORD WINAPI ReportLater(void* argument) {
  auto* report = static_cast<LateReport*>(argument);
  Sleep(report->delayMs);
  Report(report->code, report->text.c_str());
  SetEnvironmentVariableA(kLateReportedVariable, "1");
  delete report;
  return 0;
}

void __cdecl TestReportLater(int32_t delayMs, int32_t code, const char* text) {
  auto* report = new LateReport{static_cast<DWORD>(delayMs), code, text != nullptr ? text : ""};
  if (HANDLE thread = CreateThread(nullptr, 0, &ReportLater, report, 0, nullptr)) {
    CloseHandle(thread);
  } else {
    delete report;
  }
}

int64_t __cdecl TestAttachCounter(void) { return gState->attachedAt.QuadPart; }

}  // extern "C"

namespace {

// For the loader's tests: that code of this module ran, and whether its own
// file could be opened for writing while it was being loaded.
void MarkAttached(HINSTANCE self) {
  SetEnvironmentVariableA(kAttachedVariable, "1");
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  HANDLE file = length > 0 && length < MAX_PATH
                    ? CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr)
                    : INVALID_HANDLE_VALUE;
  SetEnvironmentVariableA(kWritableWhileLoadingVariable, file != INVALID_HANDLE_VALUE ? "1" : "0");
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    MarkAttached(self);
    gState = new ModuleState;
    QueryPerformanceCounter(&gState->attachedAt);
    InitializeCriticalSection(&gState->lock);
    ConfigureFromEnvironment();
    DrawFrame(0);
  }
  // Left allocated at detach: a module thread may still be ending.
  return TRUE;
}
