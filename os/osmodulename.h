#pragma once

#include <string>

namespace Os {

// The file name (without directory) of the process's main module, e.g.
// "host.exe"; empty when the system cannot tell.
std::string MainModuleBaseName();

}  // namespace Os
