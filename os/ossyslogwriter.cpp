#include "os/ossyslogwriter.h"

#include <windows.h>

#include "kellib/text.h"
#include "os/ostime.h"

namespace Os {

bool SysLogWriter::Write(const Log::Record& record) {
  kel::text line = kel::text::Make(2048, 0);
  line.Append("[");
  AppendClock(line, Split(TimeMs::Now()));
  line.Append(" ").Append(record.processName).Append(" ").Append(record.threadName);
  line.Append(" ").Append(record.file).Append(":").AppendUnsigned(record.line).Append("] ");
  line.AppendRun(record.text, record.textLength);
  if (line.size == 0 || line.Content()[line.size - 1] != '\n') line.Append("\n");
  OutputDebugStringA(line.Content());
  return true;
}

}  // namespace Os
