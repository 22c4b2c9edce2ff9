#include "os/osdialog.h"

#include <string>

#include <windows.h>

#include "kellib/text.h"
#include "os/osmessages.h"
#include "os/osplatform.h"
#include "os/ospriority.h"
#include "os/win32/osprocess.h"

namespace Os {
namespace {

std::wstring ProductName() { return Platform().ProductName(); }

std::wstring FolderOf(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsFileIn(const std::wstring& folder, std::wstring* path) {
  if (folder.empty()) return false;
  std::wstring candidate = folder;
  if (candidate.back() != L'\\' && candidate.back() != L'/') candidate += L'\\';
  candidate += kDialogProgram;
  candidate += L".exe";
  DWORD attributes = GetFileAttributesW(candidate.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  *path = candidate;
  return true;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&FindDialogProgram), &module);
  return module;
}

void AppendQuoted(kel::wtext& arguments, const wchar_t* option, const wchar_t* value) {
  if (value == nullptr) return;
  std::wstring quoted = Process::QuoteArgument(value);
  arguments.Append(option).Append(quoted.c_str());
}

}  // namespace

std::wstring FindDialogProgram() {
  std::wstring path;
  HMODULE library = ThisModule();
  if (library != nullptr && IsFileIn(FolderOf(library), &path)) return path;
  if (IsFileIn(FolderOf(nullptr), &path)) return path;
  return std::wstring();
}

DebugOutputHook DebugOutput = DefaultDebugOutput;
ShowMessageHook ShowFatalError = DefaultShowFatalError;
ShowMessageHook ShowInformation = DefaultShowInformation;
ShowDialogHook ShowDialog = DefaultShowDialog;
ShowWarningBoxHook ShowWarningBox = DefaultShowWarningBox;

bool DefaultDebugOutput(const wchar_t* text) {
  OutputDebugStringW(text);
  return true;
}

int DefaultShowFatalError(const wchar_t* message, const wchar_t* caption) {
  std::wstring product = caption == nullptr ? ProductName() : std::wstring();
  return ShowDialog(message, caption != nullptr ? caption : product.c_str(), 3, 0, 0, MessageText(kMessageOk), nullptr,
                    nullptr, nullptr, false, nullptr);
}

int DefaultShowInformation(const wchar_t* message, const wchar_t* caption) {
  std::wstring product = caption == nullptr ? ProductName() : std::wstring();
  return ShowDialog(message, caption != nullptr ? caption : product.c_str(), 1, 0, 0, nullptr, nullptr, nullptr,
                    nullptr, false, nullptr);
}

int DefaultShowDialog(const wchar_t* message, const wchar_t* caption, int icon, int defaultButton, int escapeButton,
                      const wchar_t* button0, const wchar_t* button1, const wchar_t* button2, const wchar_t* button3,
                      bool offerDontAsk, bool* dontAskResult) {
  kel::wtext arguments = kel::wtext::Make(127, 0);
  arguments.Append(L"-icon=").AppendSigned(icon);
  arguments.Append(L" -default=").AppendSigned(defaultButton);
  arguments.Append(L" -escape=").AppendSigned(escapeButton);
  AppendQuoted(arguments, L" -message=", message);
  AppendQuoted(arguments, L" -caption=", caption);
  AppendQuoted(arguments, L" -button0=", button0);
  AppendQuoted(arguments, L" -button1=", button1);
  AppendQuoted(arguments, L" -button2=", button2);
  AppendQuoted(arguments, L" -button3=", button3);
  if (offerDontAsk) arguments.Append(L" -dontask");

  std::wstring path = FindDialogProgram();
  if (path.empty()) {
    std::wstring line = std::wstring(L"Dialog program ") + kDialogProgram +
                        L".exe not found beside the library or beside the host; "
                        L"showing a plain warning box\n";
    if (!DebugOutput(line.c_str())) OutputDebugStringW(line.c_str());
    ShowWarningBox(caption, message);
    return escapeButton;
  }
  Process program(kDialogProgram, std::wstring(arguments.Content(), arguments.size), nullptr, false, false, false,
                  Normal, path.c_str());
  if (!program.IsStarted()) {
    ShowWarningBox(caption, message);
    return escapeButton;
  }
  int result = defaultButton;
  if (button0 != nullptr) {
    uint32_t exitCode = 0;
    // A wait that fails reads as the escape button, never as a choice.
    result = program.Wait(&exitCode, Process::kInfinite) ? static_cast<int>(exitCode) : escapeButton;
  } else {
    program.Detach();  // an information box is not waited for
  }
  if (offerDontAsk && dontAskResult != nullptr) *dontAskResult = (result & 8) != 0;
  return result & 7;
}

void DefaultShowWarningBox(const wchar_t* caption, const wchar_t* message) {
  std::wstring product = message == nullptr ? ProductName() : std::wstring();
  MessageBoxW(nullptr, message != nullptr ? message : product.c_str(), caption, MB_ICONWARNING);
}

}  // namespace Os
