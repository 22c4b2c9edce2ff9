#pragma once

#include "os/oslog.h"

namespace Os {

// Sends each record as one line to the debugger output:
// "[h:mm:ss.mmm process thread file:line] text".
class SysLogWriter final : public Log::Writer {
 public:
  explicit SysLogWriter(std::string name) : Log::Writer(std::move(name)) {}
  bool Write(const Log::Record& record) override;
};

}  // namespace Os
