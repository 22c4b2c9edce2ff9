#pragma once

#include "os/oslog.h"

namespace Os {
namespace Log {

// The framework's contexts, each created on first use (once, even when
// several threads ask at the same moment) and destroyed at process exit.
Context& OsContext();          // "Os", all levels
Context& ThreadContext();      // "Os.Thread", all levels
Context& ProcessContext();     // "Os.Process", all levels
Context& LogContext();         // "Os.Log", all levels
Context& LogManagerContext();  // "Os.Log.Manager", all but level 1
Context& YotiContext();        // "Yoti", all but level 1

}  // namespace Log
}  // namespace Os
