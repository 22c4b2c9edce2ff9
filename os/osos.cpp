#include "os/osos.h"

#include <windows.h>

#include "kellib/text.h"
#include "os/oslog.h"
#include "os/oslogcontexts.h"

namespace Os {

os_exception::os_exception(int32_t code, std::wstring text)
    : code(code), osText(std::move(text)) {}

std::wstring os_exception::Description() const {
  kel::wtext text = kel::wtext::Make(L"Os Error %1: %2");
  text.Arg(code).Arg(osText);
  return std::wstring(text.Content(), text.size);
}

void ThrowError(int32_t code, bool logOnly, bool bare) {
  if (bare) throw os_exception(code, std::wstring());
  std::wstring osText = code <= 0 ? std::wstring(L"Unknown error") : FormatOsError(code);
  Log::Context& context = Log::OsContext();
  if (context.IsEnabled(Log::kError)) {
    kel::text text = kel::text::Make(1500, 0);
    text.Append("OS error ").AppendSigned(code).Append(": ").Append(osText.c_str());
    Log::WriteWithStack(context, Log::kError, "os\\osos", "Os::ThrowError", 596, text);
  }
  if (!logOnly) throw os_exception(code, osText);
}

std::wstring FormatOsError(int32_t code) {
  kel::wtext text = kel::wtext::Make(128, 0);
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(code),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                text.buffer + text.start, 127, nullptr);
  if (length > 0) {
    text.Recount();
  } else {
    text.Clear();
    text.Append(L"Error ").AppendSigned(code);
  }
  return std::wstring(text.Content(), text.size);
}

}  // namespace Os
