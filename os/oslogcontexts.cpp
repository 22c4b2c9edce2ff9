#include "os/oslogcontexts.h"

namespace Os {
namespace Log {

Context& OsContext() {
  static Context context("Os", Mask{kAllLevels});
  return context;
}

Context& ThreadContext() {
  static Context context("Thread", &OsContext(), Mask{kAllLevels});
  return context;
}

Context& ProcessContext() {
  static Context context("Process", &OsContext(), Mask{kAllLevels});
  return context;
}

Context& LogContext() {
  static Context context("Log", &OsContext(), Mask{kAllLevels});
  return context;
}

Context& LogManagerContext() {
  static Context context("Manager", &LogContext(), Mask{30});
  return context;
}

Context& YotiContext() {
  static Context context("Yoti", Mask{30});
  return context;
}

}  // namespace Log
}  // namespace Os
