#include "os/ostrap.h"

#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace Os {

void Trap(const char* condition, int line, const char* sourcePath) {
  char report[512];
  std::snprintf(report, sizeof report, "Trap: '%s' is TRUE\nFile:  %s, Line:  %d\n", condition,
                sourcePath, line);
  OutputDebugStringA(report);
  std::abort();
}

}  // namespace Os
