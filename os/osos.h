#pragma once

#include <cstdint>
#include <string>

#include "kellib/exception.h"

namespace Os {

// An operating-system failure: the system error code and its system text.
class os_exception : public kel::exception {
 public:
  os_exception(int32_t code, std::wstring osText);

  // "Os Error <code>: <system text>".
  std::wstring Description() const override;

  int32_t code;
  std::wstring osText;
};

// Reports an OS error code: one log record at the error level (unless bare),
// then throws os_exception (unless logOnly). Codes of 0 or below read
// "Unknown error". Callers use the named forms below.
void ThrowError(int32_t code, bool logOnly = false, bool bare = false);

// Logs the code, then throws os_exception.
[[noreturn]] void ThrowOsError(int32_t code);
// Logs the code and returns.
void LogOsError(int32_t code);
// Throws os_exception without a record, for a caller that reports itself.
[[noreturn]] void ThrowUnloggedOsError(int32_t code);

// The system's text for a code, with its line break; "Error <code>" when the
// system has none.
std::wstring FormatOsError(int32_t code);

}  // namespace Os
