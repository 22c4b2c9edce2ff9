#include "loader/status_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "loader/loader_state.h"
#include "os/osboundary.h"
#include "ui/config_dialog.h"

extern "C" void __cdecl ReportStatus(int32_t code, const char* text) {
  // Called by the module: nothing may be thrown back into it.
  Os::Contain("ReportStatus", [&] {
    LoaderState& state = Loader();
    if (!state.statusWindow) return;
    HWND hwnd = state.statusWindow->GetSafeHwnd();
    if (hwnd == nullptr || !IsWindow(hwnd)) return;
    if (code == 5) SetLoaderEvent(kDllLoaded);
    // Posted, not sent: no caller ever waits on the window thread. The
    // window frees the copy.
    char* copy = text != nullptr ? _strdup(text) : nullptr;
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
