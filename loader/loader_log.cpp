#include "loader/loader_log.h"

namespace Ixa {

namespace {
constexpr Os::Log::Mask kNoticeAndUp{Os::Log::kNotice | Os::Log::kWarning | Os::Log::kError};
}  // namespace

Os::Log::Context& DiscoveryLog() {
  static Os::Log::Context context("Discovery", kNoticeAndUp);
  return context;
}

Os::Log::Context& ModuleLog() {
  static Os::Log::Context context("Module", kNoticeAndUp);
  return context;
}

void WriteRecord(Os::Log::Context& context, uint16_t level, const char* source, const char* function, unsigned line,
                 const std::string& text) {
  if (!context.IsEnabled(level)) return;
  context.Write(level, source, function, line, nullptr, 0, text.data(), text.size());
}

}  // namespace Ixa
