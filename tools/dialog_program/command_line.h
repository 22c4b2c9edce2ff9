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

// Parses the argument text (the command line without the program name):
// -icon=N -default=N -escape=N -message="..." -caption="..." -button0..3="..."
// -dontask. Values may be quoted, with \" standing for a double quote inside.
// Returns nothing and sets error on malformed input.
std::optional<DialogRequest> ParseDialogArguments(const std::wstring& arguments,
                                                  std::wstring* error);

// The argument text of a full command line: what follows the program name.
std::wstring ArgumentsOf(const std::wstring& commandLine);
