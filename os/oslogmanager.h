#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "kellib/counter.h"
#include "os/oslock.h"
#include "os/oslog.h"
#include "os/osstacktrace.h"

namespace Os {
namespace Log {

// The process-wide hub of log records: keeps the contexts by full name,
// suppresses floods from one source line, and passes each record to every
// writer in name order.
class Manager {
 public:
  // Lifetime state: 0 before the Manager exists, 1 once constructed, -1 from
  // the start of its destruction. Contexts call it only while >= 0.
  static int State() { return state_.load(); }
  // The single Manager, constructed on first call.
  static Manager& Instance();

  virtual ~Manager();
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

  bool RegisterContext(Context* context);
  bool UnregisterContext(const std::string& fullName);
  bool AddWriter(const kel::counted_ref<Writer>& writer);

  // Flood control, then WriteLog. True also when the record was suppressed.
  bool Write(const Context* context, uint16_t level, const char* file, const char* function, unsigned line,
             const StackAddress* stack, uint32_t stackDepth, const char* text, size_t textLength);
  // True when the record from this source should be written.
  bool UpdateState(const char* baseName, unsigned line, const StackAddress* stack, uint32_t stackDepth);
  // True when at least one writer returned true. With only, that writer
  // alone is given the record.
  bool WriteLog(const Context* context, uint16_t level, const char* file, const char* function, unsigned line,
                const char* text, size_t textLength, const char* only = nullptr);
  // Flood control, then the log file's writer alone: for what the user saw
  // that the debugger output does not carry. False without a log file.
  bool WriteToFileOnly(const Context* context, uint16_t level, const char* file, const char* function, unsigned line,
                       const char* text, size_t textLength);

  // The name the log file's writer is registered under.
  static constexpr const char* kFileWriterName = "File";

  uint32_t FloodPeriodMs() const { return floodPeriodMs_; }
  uint32_t FloodCount() const { return floodCount_; }
  size_t RecentStackCount();

 private:
  Manager();

  // A source line: the first 20 characters of its file's base name, and the
  // line. Ordered by line, then name.
  struct SourceInstance {
    unsigned line;
    std::string name;
    bool operator<(const SourceInstance& other) const {
      return line != other.line ? line < other.line : name < other.name;
    }
  };
  struct FloodState {
    uint32_t lastTimeMs = 0;
    uint32_t burst = 0;
  };
  struct Stack {
    uint32_t depth = 0;
    StackAddress addresses[kStackCapacity];
  };

  void WriteNotice(const char* format, const char* baseName, unsigned line, unsigned noticeLine);

  static std::atomic<int> state_;

  CriticalSection contextLock_;
  std::map<std::string, Context*> contexts_;
  RwLock writersLock_{10};
  std::map<std::string, kel::counted_ref<Writer>> writers_;
  CriticalSection floodLock_;
  std::map<SourceInstance, FloodState> instances_;
  std::map<uint32_t, Stack> recentStacks_;
  std::atomic<uint32_t> sequence_{0};
  uint32_t floodPeriodMs_ = 40;
  uint32_t floodCount_ = 150;
  uint32_t recentStacksLimit_ = 1000;
};

}  // namespace Log
}  // namespace Os
