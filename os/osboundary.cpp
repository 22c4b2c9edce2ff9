#include "os/osboundary.h"

#include <string>

#include <windows.h>

#include "kellib/text.h"

namespace Os {

void ReportContained(const char* where, const kel::exception* framework, const std::exception* standard) noexcept {
  try {
    std::string text = std::string("IxaLoader: ") + where + " stopped an exception: ";
    if (framework != nullptr) {
      text += kel::Narrow(framework->Description());
    } else if (standard != nullptr) {
      text += standard->what();
    } else {
      text += "(unknown type)";
    }
    text += '\n';
    OutputDebugStringA(text.c_str());
  } catch (...) {
    OutputDebugStringA("IxaLoader: an exception was stopped\n");
  }
}

}  // namespace Os
