// The framework's external dialog program: shows one dialog described by its
// command line and reports the pressed button through its exit code.
//
// For unattended runs, IXA_DIALOG_AUTOPRESS=<button>[,dontask] presses that
// button as soon as the window exists, and IXA_DIALOG_RECORD=<file> appends
// the received argument text and its parsed fields to the file (UTF-8).
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

#include "command_line.h"
#include "dialog_window.h"

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024];
  DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

void Record(const std::wstring& path, const std::wstring& arguments, const DialogRequest* request) {
  FILE* file = _wfopen(path.c_str(), L"ab");
  if (file == nullptr) return;
  std::fprintf(file, "arguments=%s\n", Utf8(arguments).c_str());
  if (request != nullptr) {
    std::fprintf(file, "icon=%d\ndefault=%d\nescape=%d\n", request->icon, request->defaultButton,
                 request->escapeButton);
    auto field = [file](const char* name, const std::optional<std::wstring>& value) {
      if (value) std::fprintf(file, "%s=%s\n", name, Utf8(*value).c_str());
    };
    field("message", request->message);
    field("caption", request->caption);
    const char* names[4] = {"button0", "button1", "button2", "button3"};
    for (int i = 0; i < 4; ++i) field(names[i], request->buttons[i]);
    std::fprintf(file, "dontask=%d\n", request->offerDontAsk ? 1 : 0);
  }
  std::fprintf(file, "end\n");
  std::fclose(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::wstring arguments = ArgumentsOf(GetCommandLineW());
  ParseFailure failure;
  std::optional<DialogRequest> request = ParseDialogArguments(arguments, &failure);

  std::wstring recordPath = Environment(L"IXA_DIALOG_RECORD");
  if (!recordPath.empty()) Record(recordPath, arguments, request ? &*request : nullptr);

  std::wstring press = Environment(L"IXA_DIALOG_AUTOPRESS");
  if (!request) {
    std::fwprintf(stderr, L"durururu-dir32-udezar: %ls\n", failure.error.c_str());
    if (press.empty()) {
      MessageBoxW(nullptr, (L"Cannot show the dialog: " + failure.error).c_str(), L"Dialog", MB_ICONWARNING);
    }
    // As if dismissed with Escape, so that a fault never reads as a choice.
    return failure.exitCode;
  }

  int autoPress = -1;
  bool autoDontAsk = false;
  if (!press.empty()) {
    autoPress = static_cast<int>(std::wcstol(press.c_str(), nullptr, 10));
    autoDontAsk = press.find(L",dontask") != std::wstring::npos;
  }
  return RunDialog(*request, autoPress, autoDontAsk);
}
