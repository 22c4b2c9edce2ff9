// Loads the library as a host would, connects it to the console simulator
// started beside it (inside the sandbox) and, with "patch", opens the Patch
// dialog; prints "ready X Y W H" (the rectangle to capture) and keeps
// everything on screen for a while. Used by scripts/screenshots.sh.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IxaLoader.h"
#include "ui/resource.h"

namespace {

HWND WaitForWindow(const char* title) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    HWND hwnd = FindWindowA(nullptr, title);
    if (hwnd != nullptr && IsWindowVisible(hwnd)) return hwnd;
    Sleep(20);
  }
  return nullptr;
}

// The console simulator on the default port, for as long as the preview lasts.
bool StartConsole() {
  char command[] = "console_simulator.exe --port 6600 --lifetime 60";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Until the module has reported its session, as a working connection does.
bool WaitForSession(HWND window) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char text[64] = "";
    GetDlgItemTextA(window, IDC_SESSION_LINE, text, sizeof(text));
    if (std::strcmp(text, "Session 1") == 0) return true;
    Sleep(20);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool showPatch = argc > 1 && std::strcmp(argv[1], "patch") == 0;
  HMODULE library = LoadLibraryA("IxaLoader.dll");
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load IxaLoader.dll: %lu\n", GetLastError());
    return 1;
  }
  HWND window = WaitForWindow("Vexa Visualiser");
  if (window == nullptr) {
    std::fprintf(stderr, "status window did not appear\n");
    return 1;
  }
  const auto startDetect =
      reinterpret_cast<IXA_PFN_StartDetect>(reinterpret_cast<void*>(GetProcAddress(library, "StartDetect")));
  if (!StartConsole() || startDetect == nullptr) {
    std::fprintf(stderr, "cannot start the console simulator\n");
    return 1;
  }
  startDetect();
  if (!WaitForSession(window)) {
    std::fprintf(stderr, "the module did not report its session\n");
    return 1;
  }

  HWND shown = window;
  if (showPatch) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_PATCH, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_PATCH)));
    shown = WaitForWindow("Patch");
    if (shown == nullptr) {
      std::fprintf(stderr, "Patch dialog did not appear\n");
      return 1;
    }
  }
  Sleep(500);  // let everything paint
  RECT rect;
  GetWindowRect(shown, &rect);
  std::printf("ready %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  std::fflush(stdout);
  Sleep(argc > 2 ? std::atoi(argv[2]) : 5000);
  // The process ends without unloading; the system ends the window threads.
  std::fflush(stdout);
  ExitProcess(0);
}
