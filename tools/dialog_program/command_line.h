#pragma once

#include <optional>
#include <string>

// What the framework asks of one dialog: texts, icon, buttons and which
// buttons Enter and Escape stand for.
struct DialogRequest {
  int icon = 0;
  int defaultButton = 0;
  int escapeButton = 0;
  std::optional<std::wstring> message;
  std::optional<std::wstring> caption;
  std::optional<std::wstring> buttons[4];
  bool offerDontAsk = false;
};

// The exit code of a command line that names no button to report.
constexpr int kNoButton = 7;

// Why a command line could not be parsed, and what to exit with: the escape
// index when -escape= was read before the fault, else kNoButton.
struct ParseFailure {
  std::wstring error;
  int exitCode = kNoButton;
};

// Parses the argument text (the command line without the program name):
// -icon=N -default=N -escape=N -message="..." -caption="..." -button0..3="..."
// -dontask, split into arguments by the rules of CommandLineToArgvW (as
// Os::Process::QuoteArgument writes them): values may be quoted, \" is a
// literal quote and backslashes before a quote are halved. Returns nothing
// and fills failure on malformed input, such as a quote left open.
std::optional<DialogRequest> ParseDialogArguments(const std::wstring& arguments, ParseFailure* failure);

// The argument text of a full command line: what follows the program name.
std::wstring ArgumentsOf(const std::wstring& commandLine);
