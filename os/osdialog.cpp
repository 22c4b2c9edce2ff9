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

void AppendQuoted(kel::wtext& arguments, const wchar_t* option, const wchar_t* value) {
  if (value == nullptr) return;
  std::wstring quoted = Process::QuoteArgument(value);
  arguments.Append(option).Append(quoted.c_str());
}

}  // namespace

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
  return ShowDialog(message, caption != nullptr ? caption : product.c_str(), 3, 0, 0,
                    MessageText(kMessageOk), nullptr, nullptr, nullptr, false, nullptr);
}

int DefaultShowInformation(const wchar_t* message, const wchar_t* caption) {
  std::wstring product = caption == nullptr ? ProductName() : std::wstring();
  return ShowDialog(message, caption != nullptr ? caption : product.c_str(), 1, 0, 0, nullptr,
                    nullptr, nullptr, nullptr, false, nullptr);
}

int DefaultShowDialog(const wchar_t* message, const wchar_t* caption, int icon, int defaultButton,
                      int escapeButton, const wchar_t* button0, const wchar_t* button1,
                      const wchar_t* button2, const wchar_t* button3, bool offerDontAsk,
                      bool* dontAskResult) {
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

  Process program(kDialogProgram, std::wstring(arguments.Content(), arguments.size), nullptr,
                  false, false, false, Normal);
  if (!program.IsStarted()) {
    ShowWarningBox(caption, message);
    return escapeButton;
  }
  int result = defaultButton;
  if (button0 != nullptr) {
    uint32_t exitCode = 0;
    // A wait that fails reads as the escape button, never as a choice.
    result = program.Wait(&exitCode, Process::kInfinite) ? static_cast<int>(exitCode)
                                                         : escapeButton;
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
