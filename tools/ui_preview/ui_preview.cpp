// Loads the library as a host would, fills the status window as a working
// connection does and, with "patch", opens the Patch dialog; prints
// "ready X Y W H" (the rectangle to capture) and keeps everything on screen
// for a while. Used by scripts/screenshots.sh.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT kStatusMessage = WM_USER + 4;
constexpr int kPatchButton = 1070;

HWND WaitForWindow(const char* title) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    HWND hwnd = FindWindowA(nullptr, title);
    if (hwnd != nullptr && IsWindowVisible(hwnd)) return hwnd;
    Sleep(20);
  }
  return nullptr;
}

// The window frees the text, as it does for the loader's own reports.
void PostStatus(HWND window, int code, const char* text) {
  PostMessageA(window, kStatusMessage, static_cast<WPARAM>(code), reinterpret_cast<LPARAM>(_strdup(text)));
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
  PostStatus(window, 1, "VexaNet");
  PostStatus(window, 2, "Session 1");
  PostStatus(window, 0, "Connected on port 6600");

  HWND shown = window;
  if (showPatch) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(kPatchButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, kPatchButton)));
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
