#include "loader/status_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <windows.h>

#include "loader/loader_state.h"
#include "loader/module_guard.h"
#include "os/osboundary.h"
#include "ui/config_dialog.h"
#include "ui/status_inbox.h"

namespace Ixa {
namespace {

// The caller's text, at most StatusInbox::kMaxText bytes of it, read under
// the fault guard into the caller's buffer and terminated there: a module
// may hand over a pointer that is not readable, or change the text while it
// is read, which costs that text, never the caller.
bool CopyReportedText(const char* text, char (&copy)[Ui::StatusInbox::kMaxText + 1]) {
  size_t length = 0;
  if (CallModuleGuarded([&] {
        length = strnlen(text, Ui::StatusInbox::kMaxText);
        std::memcpy(copy, text, length);
      })) {
    copy[length] = '\0';
    return true;
  }
  OutputDebugStringA("IxaLoader: ReportStatus dropped a text it could not read\n");
  return false;
}

}  // namespace
}  // namespace Ixa

extern "C" void __cdecl ReportStatus(int32_t code, const char* text) {
  using namespace Ixa;
  // Called by the module: nothing may be thrown back into it.
  Os::Contain("ReportStatus", [&] {
    LoaderState& state = Loader();
    if (!state.statusWindow) return;
    HWND hwnd = state.statusWindow->GetSafeHwnd();
    if (hwnd == nullptr || !IsWindow(hwnd)) return;
    if (code == static_cast<int32_t>(StatusCode::Loaded)) {
      SetEvent(state.moduleLoaded.get());
      SetLoaderEvent(kDllLoaded);
    }
    char copy[Ui::StatusInbox::kMaxText + 1];
    if (text != nullptr && !CopyReportedText(text, copy)) return;
    // Posted, not sent: no caller ever waits on the window thread.
    Ui::StatusInbox::Post(hwnd, code, text != nullptr ? copy : nullptr);
  });
}

namespace Ixa {

void ReportStatusFormat(StatusCode code, const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  ReportStatus(code, text);
}

}  // namespace Ixa
