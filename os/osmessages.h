#pragma once

#include <string>

namespace Os {

// Entries of the framework's message table used by its reports.
enum MessageId {
  kMessageOk = 75,
  kMessageTrapReport = 320,  // %1 line, %2 file, %3 message, %4 version
  kMessageFatalError = 322,
};

// The text of a message table entry; empty for an entry not held here.
const wchar_t* MessageText(MessageId id);

// The framework's version, e.g. "v1.2.1 (b 550)".
struct Version {
  unsigned major;
  unsigned minor;
  unsigned patch;
  unsigned build;
  bool beta;
};
constexpr Version kFrameworkVersion{1, 2, 1, 550, false};
std::wstring VersionText(const Version& version);

}  // namespace Os
