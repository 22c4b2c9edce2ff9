#include "os/osmessages.h"

#include <string>

namespace Os {

const wchar_t* MessageText(MessageId id) {
  switch (id) {
    case kMessageOk:
      return L"Ok";
    case kMessageTrapReport:
      return L"Error:  %3\nFile:  %2, Line:  %1\nVersion:  %4";
    case kMessageFatalError:
      return L"Fatal Error";
  }
  return L"";
}

std::wstring VersionText(const Version& version) {
  std::wstring text = L"v" + std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + L"." +
                      std::to_wstring(version.patch);
  if (version.beta) text += L" beta";
  return text + L" (b " + std::to_wstring(version.build) + L")";
}

}  // namespace Os
