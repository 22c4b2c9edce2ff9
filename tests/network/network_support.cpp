#include "tests/network/network_support.h"

#include <cstdio>

#include <winsock2.h>

#include "tests/support/test_support.h"
#include "tools/processor_module/test_api.h"

namespace network_test {

namespace {

constexpr DWORD kSimulatorStartMs = 10000;
// A simulator left behind by a crashed test ends by itself.
constexpr int kSimulatorLifetimeSeconds = 120;

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

template <typename Fn>
Fn ModuleEntry(const char* name) {
  HMODULE module = LoadedModule();
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace

Simulator::Simulator(int port, const std::vector<std::string>& arguments) {
  static int serial = 0;
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  char name[64];
  std::snprintf(name, sizeof(name), "console_simulator_%lu_%d.log", GetCurrentProcessId(), ++serial);
  logPath_ = std::string(temp) + name;
  DeleteFileA(logPath_.c_str());

  std::string commandLine = "console_simulator.exe --port " + std::to_string(port) + " --log " + Quote(logPath_) +
                            " --lifetime " + std::to_string(kSimulatorLifetimeSeconds);
  for (const std::string& argument : arguments) commandLine += " " + Quote(argument);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  if (!testing_support::StartChildProcess([&] {
        return CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &process_);
      })) {
    return;
  }
  ready_ = WaitFor("ready:", kSimulatorStartMs);
}

Simulator::~Simulator() {
  Stop();
  DeleteFileA(logPath_.c_str());
}

void Simulator::Stop() {
  if (process_.hProcess == nullptr) return;
  TerminateProcess(process_.hProcess, 0);
  WaitForSingleObject(process_.hProcess, INFINITE);
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
  process_ = {};
}

std::string Simulator::Log() const {
  std::string text;
  HANDLE file = CreateFileA(logPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char chunk[4096];
  DWORD count = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &count, nullptr) && count > 0) text.append(chunk, count);
  CloseHandle(file);
  return text;
}

int Simulator::Count(const std::string& text) const {
  std::string log = Log();
  int count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

bool Simulator::WaitFor(const std::string& text, DWORD timeoutMs, int times) const {
  return testing_support::WaitUntil([&] { return Count(text) >= times; }, timeoutMs);
}

RunningCalls gRunning;

void IXA_CALL RecordRunning(int32_t running) {
  if (running == 1) gRunning.ones.fetch_add(1);
  if (running == 0) gRunning.zeros.fetch_add(1);
}

Host::Host() : dll(LoadLibraryA("IxaLoader.dll")) {
  auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dll, name)); };
  StartDetect = reinterpret_cast<IXA_PFN_StartDetect>(get("StartDetect"));
  StartDetectExt = reinterpret_cast<IXA_PFN_StartDetectExt>(get("StartDetectExt"));
  ShutdownOB = reinterpret_cast<IXA_PFN_ShutdownOB>(get("ShutdownOB"));
  SetRunningCallback = reinterpret_cast<IXA_PFN_SetRunningCallback>(get("SetRunningCallback"));
  GetDMXBuffer = reinterpret_cast<IXA_PFN_GetDMXBuffer>(get("GetDMXBuffer"));
  SelectFixture = reinterpret_cast<IXA_PFN_SelectFixture>(get("SelectFixture"));
  testing_support::WaitUntil(
      [&] {
        return (window = testing_support::FindOwnWindow("Vexa Visualiser")) != nullptr && IsWindowVisible(window);
      },
      5000);
  gRunning.Reset();
  if (SetRunningCallback) SetRunningCallback(&RecordRunning);
}

Host::~Host() {
  if (dll == nullptr) return;
  ShutdownOB(1);
  FreeLibrary(dll);
}

int Host::Port() const { return static_cast<int>(GetDlgItemInt(window, kPortControl, nullptr, FALSE)); }

std::string Host::Line(int id) const { return testing_support::ControlText(window, id); }

bool Host::WaitForLine(int id, const std::string& text, DWORD timeoutMs) const {
  return testing_support::WaitUntil([&] { return Line(id) == text; }, timeoutMs);
}

double Host::TimedShutdown() {
  double start = NowMs();
  ShutdownOB(0);
  return NowMs() - start;
}

bool Host::WaitRunning(int ones, DWORD timeoutMs) const {
  return testing_support::WaitUntil([&] { return gRunning.ones.load() >= ones; }, timeoutMs);
}

StoredValue::StoredValue(const char* policyName, const std::vector<std::string>& entries) : name_(policyName) {
  std::string list;
  for (const std::string& entry : entries) list += entry + '\0';
  Store(true, REG_MULTI_SZ, list + '\0');
}

StoredValue::StoredValue(const char* settingName, uint32_t value) : name_(settingName) {
  Store(false, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

void StoredValue::Store(bool policy, DWORD type, const std::string& data) {
  std::vector<const char*> levels = {"SOFTWARE", "Quennel Systems", "Corvane III Orb"};
  if (policy) levels.push_back("Policy");
  HKEY key = nullptr;
  for (const char* level : levels) {
    key_ += key_.empty() ? level : std::string("\\") + level;
    if (key != nullptr) RegCloseKey(key);
    DWORD disposition = 0;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (disposition == REG_CREATED_NEW_KEY) made_.push_back(key_);
  }
  RegSetValueExA(key, name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

StoredValue::~StoredValue() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, name_.c_str());
    RegCloseKey(key);
  }
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) RegDeleteKeyA(HKEY_LOCAL_MACHINE, made->c_str());
}

SocketsWithdrawn::SocketsWithdrawn() {
  while (WSACleanup() == 0) ++withdrawn_;
}

void SocketsWithdrawn::Restore() {
  WSADATA data;
  for (; withdrawn_ > 0; --withdrawn_) WSAStartup(MAKEWORD(2, 0), &data);
}

HWND StartIntoTheErrorBox(Host& host, std::unique_ptr<SocketsWithdrawn>* withdrawn) {
  host.StartDetect();
  // The worker starts Windows Sockets before it scans.
  if (!host.WaitForLine(kInfoLine, "Scanning port " + std::to_string(host.Port()) + "...")) return nullptr;
  *withdrawn = std::make_unique<SocketsWithdrawn>();
  HWND box = nullptr;
  testing_support::WaitUntil([&] { return (box = testing_support::FindOwnWindow("DLL Error")) != nullptr; },
                             kRunningTimeoutMs);
  return box;
}

const char* const kHostStates[7] = {"idle",    "searching",         "transfer stalled", "waiting for the loaded report",
                                    "running", "Patch dialog open", "DLL Error box"};

bool ReachState(Host& host, const std::string& state, std::unique_ptr<Simulator>* console,
                std::unique_ptr<SocketsWithdrawn>* withdrawn) {
  if (host.window == nullptr) return false;
  if (state == "idle") return true;
  if (state == "DLL Error box") return StartIntoTheErrorBox(host, withdrawn) != nullptr;
  std::vector<std::string> arguments;
  if (state == "searching") arguments = {"--fault", "silent"};
  if (state == "transfer stalled") arguments = {"--fault", "stall"};
  if (state == "waiting for the loaded report") arguments = {"--module", "processor_module_never_loaded.dll"};
  *console = std::make_unique<Simulator>(host.Port(), arguments);
  if (!(*console)->Ready()) return false;
  host.StartDetect();
  if (state == "searching") return (*console)->WaitFor("discovery request", kRunningTimeoutMs);
  if (state == "transfer stalled") return (*console)->WaitFor("stalling", kRunningTimeoutMs);
  if (state == "waiting for the loaded report") {
    return testing_support::WaitUntil([] { return ModuleCallLog().find("LaunchOBExt") != std::string::npos; },
                                      kRunningTimeoutMs);
  }
  if (!host.WaitRunning()) return false;
  if (state == "running") return true;
  PostMessageA(host.window, WM_COMMAND, MAKEWPARAM(kPatchButton, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(host.window, kPatchButton)));
  return testing_support::WaitUntil([] { return testing_support::FindOwnWindow("Patch") != nullptr; }, kTextTimeoutMs);
}

HMODULE LoadedModule() { return GetModuleHandleA("Ixa.dll"); }

std::string ModuleCallLog() {
  auto callLog = ModuleEntry<TestCallLogFn>("TestCallLog");
  if (callLog == nullptr) return "";
  char text[4096];
  callLog(text, sizeof(text));
  return text;
}

int ModuleLaunchCount(int32_t* lastPort, int32_t* lastOption) {
  auto launchCount = ModuleEntry<TestLaunchCountFn>("TestLaunchCount");
  return launchCount ? launchCount(lastPort, lastOption) : -1;
}

std::string ImagePath() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  return std::string(temp) + "IxaLoader-" + std::to_string(GetCurrentProcessId()) + "\\Ixa.dll";
}

bool FileIsFree(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  CloseHandle(file);
  return true;
}

double NowMs() { return testing_support::NowMs(); }

}  // namespace network_test
