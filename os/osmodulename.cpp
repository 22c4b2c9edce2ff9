#include "os/osmodulename.h"

#include <vector>

#include <windows.h>

namespace Os {

std::string MainModuleBaseName() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      std::string full(path.data(), length);
      size_t slash = full.find_last_of("\\/");
      return slash == std::string::npos ? full : full.substr(slash + 1);
    }
    // Truncated: the name is at the end, so try again with more room.
    path.resize(path.size() * 2);
  }
}

}  // namespace Os
