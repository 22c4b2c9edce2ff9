#include "os/ostrap.h"

#include <cstdlib>
#include <string>

#include <windows.h>

#include "kellib/platform.h"
#include "kellib/text.h"
#include "os/osdialog.h"
#include "os/osevent.h"
#include "os/osmessages.h"
#include "os/osstacktrace.h"
#include "os/osthreadname.h"

namespace Os {
namespace {

// A trap raised while this thread makes its report (by the text buffers or
// the locks it uses) would recurse forever; the nested one ends the process.
thread_local bool tReporting = false;

// The base library below reports its traps and takes its stacks through
// this layer; installed as the program or library starts.
const bool gPlatformInstalled = [] {
  kel::InstallPlatform({&CaptureCurrentStack, &FormatStackTrace, &Trap});
  return true;
}();

}  // namespace

void Trap(const char* condition, int line, const char* sourcePath) {
  std::string message = std::string("Trap: '") + condition + "' is TRUE";
  std::string where = std::string(sourcePath) + " (" __DATE__ ") ";
  ReportTrap(message.c_str(), static_cast<unsigned>(line), where.c_str());
}

void ReportTrap(const char* message, unsigned line, const char* where) {
  if (tReporting) {
    OutputDebugStringA(message);
    std::abort();
  }
  tReporting = true;
  kel::wtext report = kel::wtext::Make(MessageText(kMessageTrapReport));
  report.Arg(static_cast<uint32_t>(line)).Arg(where).Arg(message);
  report.Arg(VersionText(kFrameworkVersion));
  report.Append(L"\n");
  StackAddress addresses[kStackCapacity];
  uint32_t depth = CaptureCurrentStack(addresses);
  std::string stack = FormatStackTrace(addresses, depth, 2);
  report.Append(L"\n");
  // The framework's application object would name the process here; this
  // library registers none, so the name is empty.
  const wchar_t* applicationName = L"";
  std::wstring threadName = GetThreadName(GetCurrentThreadId());
  report.Append(L"Stack trace for ").Append(applicationName).Append(L" process, thread ");
  report.Append(threadName.c_str()).Append(L":\n").Append(stack.c_str());

  if (!DebugOutput(report.Content())) OutputDebugStringW(report.Content());
  {
    // The process ends inside the scope: the marker is never closed.
    PseudoBlockWait wait;
    ShowFatalError(report.Content(), MessageText(kMessageFatalError));
    std::abort();
  }
}

}  // namespace Os
