#include "tools/probe/probe_output.h"

#include <cstdio>

namespace {

bool gJson = false;

// A JSON object under construction, its fields in the order added.
class Object {
 public:
  explicit Object(const char* event) : text_("{\"event\":" + JsonString(event)) {}
  Object& Text(const char* name, const std::string& value) {
    return Raw(name, JsonString(value));
  }
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
  Object("image").Number("bytes", bytes).Text("machine", machine).Signed("entry_points", found).Signed("of", total).Print();
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
  Object("socket_error").Text("stage", "connect").Text("address", address).Number("port", port)
      .Signed("winsock_error", error).Print();
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
