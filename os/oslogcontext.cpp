#include "os/oslog.h"
#include "os/oslogmanager.h"
#include "os/osstacktrace.h"

namespace Os {
namespace Log {

Context::Context(const char* name, bool enabled)
    : Context(name, nullptr, Mask{static_cast<uint16_t>(enabled ? kAllLevels : 0)}) {}

Context::Context(const char* name, Mask mask) : Context(name, nullptr, mask) {}

Context::Context(const char* name, Context* parent, bool enabled)
    : Context(name, parent, Mask{static_cast<uint16_t>(enabled ? kAllLevels : 0)}) {}

Context::Context(const char* name, Context* parent, Mask mask) : name_(name), parent_(parent), levelMask_(mask.bits) {
  if (Manager::State() >= 0) registered_ = Manager::Instance().RegisterContext(this);
}

Context::~Context() {
  if (registered_ && Manager::State() >= 0) Manager::Instance().UnregisterContext(FullName());
}

std::string Context::FullName() const { return parent_ == nullptr ? name_ : parent_->FullName() + "." + name_; }

void Context::Write(uint16_t level, const char* file, const char* function, unsigned line, const StackAddress* stack,
                    uint32_t stackDepth, const char* text, size_t textLength) {
  if (Manager::State() < 0) return;
  Manager::Instance().Write(this, level, file, function, line, stack, stackDepth, text, textLength);
}

void WriteWithStack(Context& context, uint16_t level, const char* file, const char* function, unsigned line,
                    const kel::text& text) {
  StackAddress stack[kStackCapacity];
  uint32_t depth = CaptureCurrentStack(stack);
  context.Write(level, file, function, line, stack, depth, text.Content(), text.size);
}

}  // namespace Log
}  // namespace Os
