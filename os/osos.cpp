#include "os/osos.h"

#include <windows.h>

#include "kellib/text.h"
#include "os/oslog.h"
#include "os/oslogcontexts.h"

namespace Os {

os_exception::os_exception(int32_t code, std::wstring text) : code(code), osText(std::move(text)) {}

std::wstring os_exception::Description() const {
  kel::wtext text = kel::wtext::Make(L"Os Error %1: %2");
  text.Arg(code).Arg(osText);
  return std::wstring(text.Content(), text.size);
}

namespace {

// The code's system text, after one record of it at the error level.
std::wstring LoggedOsText(int32_t code) {
  std::wstring osText = code <= 0 ? std::wstring(L"Unknown error") : FormatOsError(code);
  Log::LogWithStack(Log::OsContext(), Log::kError, {"os\\osos", "Os::ThrowError", 596}, [&](kel::text& text) {
    text.Append("OS error ").AppendSigned(code).Append(": ").Append(osText.c_str());
  });
  return osText;
}

}  // namespace

void ThrowError(int32_t code, bool logOnly, bool bare) {
  if (bare) ThrowUnloggedOsError(code);
  std::wstring osText = LoggedOsText(code);
  if (!logOnly) throw os_exception(code, osText);
}

void ThrowOsError(int32_t code) { throw os_exception(code, LoggedOsText(code)); }

void LogOsError(int32_t code) { LoggedOsText(code); }

void ThrowUnloggedOsError(int32_t code) { throw os_exception(code, std::wstring()); }

std::wstring FormatOsError(int32_t code) {
  kel::wtext text = kel::wtext::Make(128, 0);
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(code),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), text.buffer + text.start, 127, nullptr);
  if (length > 0) {
    text.Recount();
  } else {
    text.Clear();
    text.Append(L"Error ").AppendSigned(code);
  }
  return std::wstring(text.Content(), text.size);
}

}  // namespace Os
