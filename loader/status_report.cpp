#include "loader/status_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "loader/loader_state.h"
#include "loader/module_guard.h"
#include "os/osboundary.h"
#include "ui/config_dialog.h"

namespace {

// The caller's text, read under the fault guard: a module may hand over a
// pointer that is not readable, which costs that text, never the caller.
bool CopyReportedText(const char* text, char** copy) {
  *copy = nullptr;
  if (text == nullptr) return true;
  size_t length = 0;
  if (CallModuleGuarded([&] { length = std::strlen(text); })) {
    *copy = static_cast<char*>(std::malloc(length + 1));
    if (*copy == nullptr || CallModuleGuarded([&] { std::memcpy(*copy, text, length + 1); })) return true;
    std::free(*copy);
    *copy = nullptr;
  }
  OutputDebugStringA("IxaLoader: ReportStatus dropped a text it could not read\n");
  return false;
}

}  // namespace

extern "C" void __cdecl ReportStatus(int32_t code, const char* text) {
  // Called by the module: nothing may be thrown back into it.
  Os::Contain("ReportStatus", [&] {
    LoaderState& state = Loader();
    if (!state.statusWindow) return;
    HWND hwnd = state.statusWindow->GetSafeHwnd();
    if (hwnd == nullptr || !IsWindow(hwnd)) return;
    if (code == 5) {
      SetEvent(state.moduleLoaded.get());
      SetLoaderEvent(kDllLoaded);
    }
    // Posted, not sent: no caller ever waits on the window thread. The
    // window frees the copy.
    char* copy;
    if (!CopyReportedText(text, &copy)) return;
    if (!PostMessageW(hwnd, kStatusMessage, static_cast<WPARAM>(code), reinterpret_cast<LPARAM>(copy))) {
      free(copy);
    }
  });
}

void ReportStatusFormat(int32_t code, const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  ReportStatus(code, text);
}
