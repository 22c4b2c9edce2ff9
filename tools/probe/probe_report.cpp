#include "tools/probe/probe_report.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kellib/text.h"
#include "loader/discovery_targets.h"
#include "os/osfilelogwriter.h"
#include "os/osplatform.h"
#include "os/win32/unique_registry_key.h"
#include "os/win32/unique_socket.h"
#include "tools/probe/probe_output.h"

namespace {

constexpr size_t kLogLines = 200;
// The library is 32-bit: on 64-bit Windows it sees the 32-bit view of the
// registry, and so does this report, whichever the probe is.
constexpr REGSAM kLibraryView = KEY_READ | KEY_WOW64_32KEY;
constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Quennel Systems\\Corvane III Orb";
constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Quennel Systems\\Corvane III Orb\\Policy";

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring own(path, length);
  return own.substr(0, own.rfind(L'\\'));
}

// "1.2.0.0" from the file's version resource; empty without one.
std::string FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<uint8_t> data(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr) {
    return std::string();
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

struct Adapter {
  std::string name;
  ULONG index;
  bool up;
  uint32_t address;  // host byte order
  int prefix;
};

std::vector<Adapter> ListAdapters() {
  std::vector<Adapter> adapters;
  ULONG size = 16 * 1024;
  std::vector<uint8_t> buffer(size);
  ULONG result;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  while ((result = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                        &size)) == ERROR_BUFFER_OVERFLOW &&
         size <= 1024 * 1024) {
    buffer.resize(size);
  }
  if (result != NO_ERROR) return adapters;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    for (IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      if (unicast->Address.lpSockaddr->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr);
      adapters.push_back({kel::Narrow(adapter->FriendlyName), adapter->IfIndex, adapter->OperStatus == IfOperStatusUp,
                          ntohl(in->sin_addr.s_addr), unicast->OnLinkPrefixLength});
    }
  }
  return adapters;
}

void PrintNetworks() {
  std::vector<Ixa::InterfaceAddress> listed;
  {
    Os::UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (socket) Ixa::ListInterfaceAddresses(socket.get(), &listed);
  }
  const std::vector<Ixa::BroadcastTarget> targets = Ixa::BroadcastTargets(listed);
  const std::vector<Adapter> adapters = ListAdapters();
  for (const Adapter& adapter : adapters) {
    const uint32_t mask = adapter.prefix == 0 ? 0 : ~0u << (32 - adapter.prefix);
    uint32_t broadcast = 0;
    const bool hasBroadcast = Ixa::DirectedBroadcast(adapter.address, mask, &broadcast);
    bool discovery = false;
    for (const Ixa::BroadcastTarget& target : targets) discovery |= target.address == adapter.address;
    PrintInterface(adapter.name, Ixa::DottedAddress(adapter.address), adapter.prefix,
                   hasBroadcast ? Ixa::DottedAddress(broadcast) : std::string(), adapter.up, discovery);
  }
  DWORD index = 0;
  std::string name, address;
  if (GetBestInterface(htonl(INADDR_BROADCAST), &index) == NO_ERROR) {
    for (const Adapter& adapter : adapters) {
      if (adapter.index != index) continue;
      name = adapter.name;
      address = Ixa::DottedAddress(adapter.address);
      break;
    }
  }
  PrintBroadcastRoute(name, address);
}

// What the library would make of a stored value: taken, missing, or one it
// would take its default for (another type or size, or outside the range).
const char* Query(HKEY key, const char* name, uint32_t lowest, uint32_t highest, uint32_t* value) {
  if (key == nullptr) return "missing";
  DWORD type = 0;
  DWORD size = sizeof(*value);
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  if (result == ERROR_FILE_NOT_FOUND) return "missing";
  if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(*value) || *value < lowest || *value > highest) {
    return "unusable";
  }
  return "stored";
}

void PrintSettings() {
  HKEY opened = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, kLibraryView, &opened);
  const Os::UniqueRegistryKey key(opened);
  uint32_t value = 0;
  PrintSetting("port", value, Query(key.get(), "port", 1, 65535, &value));
  value = 0;
  PrintSetting("Number", value, Query(key.get(), "Number", 1, 3, &value));
  value = 0;
  PrintSetting("RetryAfterFailure", value, Query(key.get(), "RetryAfterFailure", 0, UINT32_MAX, &value));
  for (int row = 0; row < 64; ++row) {
    uint32_t dp = static_cast<uint32_t>(row / 16), enabled = 1, universe = static_cast<uint32_t>(row % 16);
    const std::string states[] = {
        Query(key.get(), ("DP_" + std::to_string(row)).c_str(), 0, 8, &dp),
        Query(key.get(), ("UniverseEnabled_" + std::to_string(row)).c_str(), 0, UINT32_MAX, &enabled),
        Query(key.get(), ("Patch_" + std::to_string(row)).c_str(), 0, 15, &universe)};
    const char* rowState = "stored";
    for (const std::string& one : states) {
      if (one == "unusable") rowState = "unusable";
      if (one == "missing" && std::string(rowState) == "stored") rowState = "missing";
    }
    PrintPatchRow(row + 1, static_cast<long long>(dp) + 1, static_cast<long long>(universe) + 1, enabled != 0,
                  rowState);
  }
}

void PrintPolicies() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, kLibraryView, &opened) != ERROR_SUCCESS) return;
  const Os::UniqueRegistryKey key(opened);
  for (const char* name : {"AllowedConsoles", "TrustedModuleSha256"}) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ ||
        size > 64 * 1024) {
      continue;
    }
    std::string data(size + 2, '\0');
    RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    std::vector<std::string> entries;
    for (size_t at = 0; at < size && data[at] != '\0'; at += entries.back().size() + 1)
      entries.push_back(data.c_str() + at);
    PrintPolicy(name, entries);
  }
}

}  // namespace

void PrintReportHead() {
  PrintReportStart(IXA_VERSION);
  const std::wstring library = OwnFolder() + L"\\IxaLoader.dll";
  PrintLibrary(kel::Narrow(library), FileVersion(library));
  PrintWindows(kel::Narrow(Os::Platform().Record().operatingSystem));
  PrintNetworks();
  PrintSettings();
  PrintPolicies();
}

void PrintReportTail() {
  const std::wstring path = Os::DefaultLogFolder() + L"\\IxaLoader.log";
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
    CloseHandle(file);
  }
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  const size_t first = lines.size() > kLogLines ? lines.size() - kLogLines : 0;
  PrintLogFile(kel::Narrow(path), lines.size() - first);
  for (size_t i = first; i < lines.size(); ++i) PrintLogLine(lines[i]);
}
