#include "tools/probe/probe_output.h"

#include <cstdio>

namespace {

bool gJson = false;

// A JSON object under construction, its fields in the order added.
class Object {
 public:
  explicit Object(const char* event) : text_("{\"event\":" + JsonString(event)) {}
  Object& Text(const char* name, const std::string& value) { return Raw(name, JsonString(value)); }
  Object& Number(const char* name, unsigned long long value) { return Raw(name, std::to_string(value)); }
  Object& Signed(const char* name, long long value) { return Raw(name, std::to_string(value)); }
  Object& Raw(const char* name, const std::string& json) {
    text_ += ",\"" + std::string(name) + "\":" + json;
    return *this;
  }
  void Print() const { std::printf("%s}\n", text_.c_str()); }

 private:
  std::string text_;
};

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void SetJsonOutput(bool json) { gJson = json; }

void PrintSent(const std::string& to, const std::string& via, int error) {
  if (!gJson) {
    const std::string network = via.empty() ? "" : " via " + via;
    if (error == 0) {
      std::printf("sent to %s%s\n", to.c_str(), network.c_str());
    } else {
      std::printf("cannot send to %s%s: Winsock error %d\n", to.c_str(), network.c_str(), error);
    }
    return;
  }
  Object sent(error == 0 ? "sent" : "send_failed");
  sent.Text("to", to);
  if (!via.empty()) sent.Text("via", via);
  if (error != 0) sent.Number("winsock_error", static_cast<unsigned>(error));
  sent.Print();
}

void PrintReply(const char* address, unsigned port, unsigned ms, const std::string& via) {
  if (!gJson) {
    std::printf("console %s:%u replied in %u ms via %s\n", address, port, ms, via.c_str());
    return;
  }
  Object("reply").Text("address", address).Number("port", port).Number("ms", ms).Text("via", via).Print();
}

void PrintIgnoredReply(const char* address, const std::string& hexBytes) {
  if (!gJson) {
    std::printf("ignored reply from %s: %s\n", address, hexBytes.c_str());
    return;
  }
  Object("ignored_reply").Text("address", address).Text("bytes", hexBytes).Print();
}

void PrintNoAnswer(unsigned port, unsigned timeoutMs) {
  if (!gJson) {
    std::printf("no console answered on port %u within %u ms\n", port, timeoutMs);
    return;
  }
  Object("no_answer").Number("port", port).Number("timeout_ms", timeoutMs).Print();
}

void PrintDiscoveryFailed(unsigned port, int error) {
  if (!gJson) {
    std::printf("discovery on port %u failed: Winsock error %d\n", port, error);
    return;
  }
  Object("socket_error").Text("stage", "discovery").Number("port", port).Signed("winsock_error", error).Print();
}

void PrintImage(size_t bytes, const std::string& machine, int found, int total) {
  if (!gJson) {
    std::printf("image %zu bytes, %s, %d of %d entry points\n", bytes, machine.c_str(), found, total);
    return;
  }
  Object("image")
      .Number("bytes", bytes)
      .Text("machine", machine)
      .Signed("entry_points", found)
      .Signed("of", total)
      .Print();
}

void PrintMissing(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    if (gJson) {
      list += (list.empty() ? "" : ",") + JsonString(name);
    } else {
      list += (list.empty() ? "" : ", ") + name;
    }
  }
  if (!gJson) {
    std::printf("missing: %s\n", list.c_str());
    return;
  }
  Object("missing").Raw("names", "[" + list + "]").Print();
}

void PrintNotADll(size_t bytes) {
  if (!gJson) {
    std::printf("image %zu bytes: not a Windows DLL\n", bytes);
    return;
  }
  Object("not_a_dll").Number("bytes", bytes).Print();
}

void PrintStalled(size_t bytes) {
  if (!gJson) {
    std::printf("image transfer stalled after %zu bytes\n", bytes);
    return;
  }
  Object("stalled").Number("bytes", bytes).Print();
}

void PrintTooLarge(size_t limit) {
  if (!gJson) {
    std::printf("image transfer exceeded %zu bytes, more than the loader accepts\n", limit);
    return;
  }
  Object("too_large").Number("limit", limit).Print();
}

void PrintTooSlow(size_t bytes, unsigned limitMs) {
  if (!gJson) {
    std::printf("image transfer too slow: %zu bytes in %u ms\n", bytes, limitMs);
    return;
  }
  Object("too_slow").Number("bytes", bytes).Number("limit_ms", limitMs).Print();
}

void PrintConnectFailed(const char* address, unsigned port, int error) {
  if (!gJson) {
    std::printf("cannot connect to %s:%u: Winsock error %d\n", address, port, error);
    return;
  }
  Object("socket_error")
      .Text("stage", "connect")
      .Text("address", address)
      .Number("port", port)
      .Signed("winsock_error", error)
      .Print();
}

void PrintTransferFailed(size_t bytes, int error) {
  if (!gJson) {
    std::printf("image transfer failed after %zu bytes: Winsock error %d\n", bytes, error);
    return;
  }
  Object("socket_error").Text("stage", "transfer").Number("bytes", bytes).Signed("winsock_error", error).Print();
}

void PrintNoWinsock() {
  if (!gJson) {
    std::printf("Windows Sockets 2 is not available\n");
    return;
  }
  Object("socket_error").Text("stage", "startup").Print();
}

namespace {

const char* YesNo(bool value) { return value ? "true" : "false"; }

std::string JsonList(const std::vector<std::string>& entries) {
  std::string list;
  for (const std::string& entry : entries) list += (list.empty() ? "" : ",") + JsonString(entry);
  return "[" + list + "]";
}

}  // namespace

void PrintReportStart(const char* probeVersion) {
  if (!gJson) {
    std::printf("report of ixa_probe %s\n", probeVersion);
    return;
  }
  Object("report").Text("probe_version", probeVersion).Print();
}

void PrintLibrary(const std::string& path, const std::string& version) {
  if (!gJson) {
    if (version.empty()) {
      std::printf("library %s: not found\n", path.c_str());
    } else {
      std::printf("library %s: version %s\n", path.c_str(), version.c_str());
    }
    return;
  }
  Object("library").Text("path", path).Text("version", version).Print();
}

void PrintWindows(const std::string& name) {
  if (!gJson) {
    std::printf("windows %s\n", name.c_str());
    return;
  }
  Object("windows").Text("name", name).Print();
}

void PrintInterface(const std::string& name, const std::string& address, int prefix, const std::string& broadcast,
                    bool up, bool discovery) {
  if (!gJson) {
    std::printf("interface %s %s/%d broadcast %s, %s, %s\n", name.c_str(), address.c_str(), prefix,
                broadcast.empty() ? "none" : broadcast.c_str(), up ? "up" : "down",
                discovery ? "discovery sends to it" : "no discovery");
    return;
  }
  Object("interface")
      .Text("name", name)
      .Text("address", address)
      .Signed("prefix", prefix)
      .Text("broadcast", broadcast)
      .Raw("up", YesNo(up))
      .Raw("discovery", YesNo(discovery))
      .Print();
}

void PrintBroadcastRoute(const std::string& name, const std::string& address) {
  if (!gJson) {
    if (address.empty()) {
      std::printf("255.255.255.255 goes out: through no interface (no route)\n");
    } else {
      std::printf("255.255.255.255 goes out: through %s %s\n", name.c_str(), address.c_str());
    }
    return;
  }
  Object("broadcast_route").Text("interface", name).Text("address", address).Print();
}

void PrintSetting(const char* name, unsigned long long value, const char* state) {
  if (!gJson) {
    if (std::string(state) == "missing") {
      std::printf("setting %s: missing\n", name);
    } else {
      std::printf("setting %s: %llu%s\n", name, value, std::string(state) == "stored" ? "" : " (unusable)");
    }
    return;
  }
  Object("setting").Text("name", name).Number("value", value).Text("state", state).Print();
}

void PrintPatchRow(int row, long long dp, long long universe, bool enabled, const char* state) {
  if (!gJson) {
    std::printf("patch #%d: DP# %lld, universe %lld%s%s\n", row, dp, universe, enabled ? "" : ", disabled",
                std::string(state) == "stored" ? "" : std::string(std::string(" (") + state + ")").c_str());
    return;
  }
  Object("patch_row")
      .Signed("row", row)
      .Signed("dp", dp)
      .Signed("universe", universe)
      .Raw("enabled", YesNo(enabled))
      .Text("state", state)
      .Print();
}

void PrintPolicy(const char* name, const std::vector<std::string>& entries) {
  if (!gJson) {
    std::string list;
    for (const std::string& entry : entries) list += (list.empty() ? "" : ", ") + entry;
    std::printf("policy %s: %s\n", name, list.empty() ? "(nothing allowed)" : list.c_str());
    return;
  }
  Object("policy").Text("name", name).Raw("entries", JsonList(entries)).Print();
}

void PrintLogFile(const std::string& path, size_t lines) {
  if (!gJson) {
    std::printf("log %s, its last %zu lines:\n", path.c_str(), lines);
    return;
  }
  Object("log").Text("path", path).Number("lines", lines).Print();
}

void PrintLogLine(const std::string& text) {
  if (!gJson) {
    std::printf("| %s\n", text.c_str());
    return;
  }
  Object("log_line").Text("text", text).Print();
}
