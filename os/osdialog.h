#pragma once

#include <string>

namespace Os {

// Process-wide hooks for the framework's user-visible reports. Each starts at
// the Default... function below; a program (or a test) may point it elsewhere.

// Sends a finished report to the debugger; true when handled. Callers write
// the text with OutputDebugStringW themselves on false.
using DebugOutputHook = bool (*)(const wchar_t* text);
// A message box; a null caption means the product's name. Returns the
// pressed button's index.
using ShowMessageHook = int (*)(const wchar_t* message, const wchar_t* caption);
// Shows a dialog through the external dialog program; returns the index
// (0..7) of the button that closed it and, when offerDontAsk is set, stores
// the state of its "don't ask again" box through dontAskResult.
using ShowDialogHook = int (*)(const wchar_t* message, const wchar_t* caption, int icon, int defaultButton,
                               int escapeButton, const wchar_t* button0, const wchar_t* button1, const wchar_t* button2,
                               const wchar_t* button3, bool offerDontAsk, bool* dontAskResult);
// The plain warning box shown when the dialog program cannot be started.
using ShowWarningBoxHook = void (*)(const wchar_t* caption, const wchar_t* message);

extern DebugOutputHook DebugOutput;
extern ShowMessageHook ShowFatalError;
extern ShowMessageHook ShowInformation;
extern ShowDialogHook ShowDialog;
extern ShowWarningBoxHook ShowWarningBox;

// The external dialog program. Its command line starts with this name; the
// file run is the one FindDialogProgram finds.
constexpr const wchar_t* kDialogProgram = L"durururu-dir32-udezar";

// The dialog program's full path: beside the module holding this code (the
// library), else beside the host executable. Never the current folder nor a
// PATH folder, which a less trusted user may be able to write to. Empty when
// neither holds it.
std::wstring FindDialogProgram();

bool DefaultDebugOutput(const wchar_t* text);
int DefaultShowFatalError(const wchar_t* message, const wchar_t* caption);
int DefaultShowInformation(const wchar_t* message, const wchar_t* caption);
int DefaultShowDialog(const wchar_t* message, const wchar_t* caption, int icon, int defaultButton, int escapeButton,
                      const wchar_t* button0, const wchar_t* button1, const wchar_t* button2, const wchar_t* button3,
                      bool offerDontAsk, bool* dontAskResult);
void DefaultShowWarningBox(const wchar_t* caption, const wchar_t* message);

}  // namespace Os
