#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kellib/counter.h"
#include "kellib/text.h"
#include "os/osstacktrace.h"
#include "os/ostls.h"

namespace Os {
namespace Log {

// Level bits; a mask of 31 enables all five.
enum Level : uint16_t {
  kDebug = 1,
  kNotice = 2,
  kWarning = 4,
  kError = 8,
  kCritical = 16,
};
constexpr uint16_t kAllLevels = 31;

// A level mask given explicitly, as opposed to an enabled flag.
struct Mask {
  uint16_t bits;
};

// One named source of log records. Filters by level (its own mask and every
// ancestor's) and hands what passes to the Manager.
class Context {
 public:
  Context(const char* name, bool enabled);
  Context(const char* name, Mask mask);
  Context(const char* name, Context* parent, bool enabled);
  Context(const char* name, Context* parent, Mask mask);
  virtual ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  bool IsEnabled(uint16_t level) const {
    return (levelMask_ & level) != 0 && (parent_ == nullptr || parent_->IsEnabled(level));
  }
  std::string FullName() const;
  void Write(uint16_t level, const char* file, const char* function, unsigned line, const StackAddress* stack,
             uint32_t stackDepth, const char* text, size_t textLength);

 private:
  friend class Manager;

  std::string name_;
  Context* parent_;
  uint16_t levelMask_;
  bool registered_ = false;
};

// What each writer receives for one record.
struct Record {
  uint32_t sequence;
  const Context* context;
  uint16_t level;
  uint32_t processId;
  const char* processName;
  uint32_t threadId;
  const char* threadName;
  const char* file;  // base name
  const char* function;
  unsigned line;
  const char* text;  // not necessarily terminated
  size_t textLength;
};

// A destination of log records. Several threads may call Write at once.
class Writer : public kel::counter {
 public:
  explicit Writer(std::string name) : name_(std::move(name)) {}
  ~Writer() override = default;

  virtual bool Write(const Record& record) = 0;
  const std::string& Name() const { return name_; }
  // Whether the calling thread is inside this writer's Write.
  bool IsBusy() const { return busy_.Get() != nullptr; }

  // Marks the writer busy on this thread for a scope, so that a record logged
  // from inside it does not re-enter it.
  class Guard {
   public:
    explicit Guard(Writer* writer) : writer_(writer) { writer_->busy_.Set(writer); }
    ~Guard() { writer_->busy_.Set(nullptr); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    kel::counted_ref<Writer> writer_;
  };

 private:
  std::string name_;
  TlsKey busy_;
};

// The call-site pattern after IsEnabled said yes: captures the caller's stack
// and writes the text through the context.
void WriteWithStack(Context& context, uint16_t level, const char* file, const char* function, unsigned line,
                    const kel::text& text);

// Where one of the framework's own records says it was made. These are
// fixed on purpose, not taken from __FILE__ and __LINE__: the records carry
// the source, function and line of the framework's trace format, which
// readers of the debugger output and their filters know, whatever the
// layout of this code.
struct RecordOrigin {
  const char* source;
  const char* function;
  unsigned line;
};

// One record with the caller's stack, when the context takes the level;
// build(text) fills the text only then.
template <typename BuildText>
void LogWithStack(Context& context, uint16_t level, const RecordOrigin& origin, BuildText&& build) {
  if (!context.IsEnabled(level)) return;
  kel::text text = kel::text::Make(1500, 0);
  build(text);
  WriteWithStack(context, level, origin.source, origin.function, origin.line, text);
}

}  // namespace Log
}  // namespace Os
