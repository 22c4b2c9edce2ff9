#pragma once

#include <cstdint>
#include <string>

#include "os/oslog.h"

namespace Ixa {

// The loader's own log records, at notice level and up: what discovery
// ignored and which modules were taken from whom.
Os::Log::Context& DiscoveryLog();
Os::Log::Context& ModuleLog();

// One record without a stack, when its context takes the level: the first
// capture loads every module's symbols, seconds in which the worker would
// stand still.
void WriteRecord(Os::Log::Context& context, uint16_t level, const char* source, const char* function, unsigned line,
                 const std::string& text);

}  // namespace Ixa
