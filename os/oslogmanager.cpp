#include "os/oslogmanager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <windows.h>

#include "kellib/exception.h"
#include "kellib/text.h"
#include "os/osfilelogwriter.h"
#include "os/oslogcontexts.h"
#include "os/ossyslogwriter.h"
#include "os/osthreadname.h"
#include "os/ostime.h"
#include "os/win32/osprocess.h"

namespace Os {
namespace Log {
namespace {

constexpr size_t kInstanceNameLength = 20;
constexpr const char* kSource = "os\\oslogmanager";

// Unsigned with automatic base ("0x" hexadecimal, "0" octal); no digits give
// 0 and values beyond 32 bits give 4294967295, as strtoul does here. Any set
// value counts, empty or long.
void ReadEnvironmentNumber(const char* name, uint32_t* value) {
  SetLastError(ERROR_SUCCESS);
  DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return;
  std::string text(needed, '\0');
  // The value may change in between; whatever was read is terminated.
  GetEnvironmentVariableA(name, text.data(), needed);
  *value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

const char* BaseName(const char* file) {
  const char* slash = std::strrchr(file, '\\');
  return slash == nullptr ? file : slash + 1;
}

void LogWriterFailure(const char* what, const std::string& detail, const std::string& writer, unsigned line) {
  LogWithStack(LogManagerContext(), kError, {kSource, "Os::Log::Manager::WriteLog", line}, [&](kel::text& text) {
    text.Append(what).Append(detail.c_str()).Append(" from writer ").Append(writer.c_str());
  });
}

// The process name does not change; looking it up costs system calls.
const std::string& CurrentProcessNarrowName() {
  static const std::string name = kel::Narrow(Process::GetCurrentProcessName());
  return name;
}

}  // namespace

std::atomic<int> Manager::state_{0};

Manager& Manager::Instance() {
  // Constructed once even when several threads arrive first at once.
  static Manager manager;
  return manager;
}

Manager::Manager() {
  ReadEnvironmentNumber("TORK_LOG_FLOODPERIOD", &floodPeriodMs_);
  ReadEnvironmentNumber("TORK_LOG_FLOODCOUNT", &floodCount_);
  AddWriter(kel::counted_ref<Writer>(new SysLogWriter("SysLog")));
  // Beside the debugger output, unless TORK_LOG_FILE is 0.
  uint32_t logFile = 1;
  ReadEnvironmentNumber("TORK_LOG_FILE", &logFile);
  const std::wstring folder = DefaultLogFolder();
  if (logFile != 0 && !folder.empty()) {
    AddWriter(kel::counted_ref<Writer>(new FileLogWriter(kFileWriterName, folder, L"IxaLoader")));
  }
  state_ = 1;
}

Manager::~Manager() {
  state_ = -1;
  Key key(contextLock_);
  for (auto& entry : contexts_) entry.second->registered_ = false;
}

bool Manager::RegisterContext(Context* context) {
  Key key(contextLock_);
  return contexts_.emplace(context->FullName(), context).second;
}

bool Manager::UnregisterContext(const std::string& fullName) {
  Key key(contextLock_);
  auto found = contexts_.find(fullName);
  if (found == contexts_.end()) return false;
  found->second->registered_ = false;
  contexts_.erase(found);
  return true;
}

bool Manager::AddWriter(const kel::counted_ref<Writer>& writer) {
  WriteKey key(writersLock_);
  return writers_.emplace(writer->Name(), writer).second;
}

bool Manager::Write(const Context* context, uint16_t level, const char* file, const char* function, unsigned line,
                    const StackAddress* stack, uint32_t stackDepth, const char* text, size_t textLength) {
  const char* baseName = BaseName(file);
  if (!UpdateState(baseName, line, stack, stackDepth)) return true;
  return WriteLog(context, level, baseName, function, line, text, textLength);
}

bool Manager::UpdateState(const char* baseName, unsigned line, const StackAddress* stack, uint32_t stackDepth) {
  Key key(floodLock_);
  uint32_t now = TimeMs::Now().Value();
  FloodState& state = instances_[SourceInstance{line, std::string(baseName, strnlen(baseName, kInstanceNameLength))}];
  uint32_t previous = state.lastTimeMs;
  state.lastTimeMs = now;

  if (!recentStacks_.empty() && recentStacks_.size() >= recentStacksLimit_) {
    recentStacks_.erase(recentStacks_.begin());
  }
  Stack& kept = recentStacks_[sequence_.load()];
  kept.depth = std::min(stackDepth, kStackCapacity);
  if (stack != nullptr) std::memcpy(kept.addresses, stack, kept.depth * sizeof(StackAddress));

  if (now - previous > floodPeriodMs_) {
    if (state.burst > floodCount_) {
      WriteNotice("Logging unsuppressed for instance at %.128s line %u", baseName, line, 467);
    }
    state.burst = 0;
    return true;
  }
  ++state.burst;
  if (state.burst > floodCount_) {
    if (state.burst == floodCount_ + 1) {
      WriteNotice("Logging suppressed for instance at %.128s line %u", baseName, line, 484);
    }
    return false;
  }
  return true;
}

void Manager::WriteNotice(const char* format, const char* baseName, unsigned line, unsigned noticeLine) {
  char notice[256];
  int length = std::snprintf(notice, sizeof(notice), format, baseName, line);
  WriteLog(&LogManagerContext(), kNotice, kSource, "Os::Log::Manager::UpdateState", noticeLine, notice,
           static_cast<size_t>(length));
}

bool Manager::WriteToFileOnly(const Context* context, uint16_t level, const char* file, const char* function,
                              unsigned line, const char* text, size_t textLength) {
  const char* baseName = BaseName(file);
  if (!UpdateState(baseName, line, nullptr, 0)) return true;
  return WriteLog(context, level, baseName, function, line, text, textLength, kFileWriterName);
}

bool Manager::WriteLog(const Context* context, uint16_t level, const char* file, const char* function, unsigned line,
                       const char* text, size_t textLength, const char* only) {
  uint32_t sequence = sequence_++;
  uint32_t threadId = GetCurrentThreadId();
  std::string threadName = kel::Narrow(GetThreadName(threadId));
  Record record{sequence,
                context,
                level,
                GetCurrentProcessId(),
                CurrentProcessNarrowName().c_str(),
                threadId,
                threadName.c_str(),
                file,
                function,
                line,
                text,
                textLength};

  bool written = false;
  ReadKey key(writersLock_);
  for (auto& entry : writers_) {
    Writer* writer = entry.second.get();
    if (writer->IsBusy() || (only != nullptr && entry.first != only)) continue;
    // Stays busy while a failure is logged, so that record skips this writer.
    Writer::Guard guard(writer);
    try {
      if (writer->Write(record)) written = true;
    } catch (const kel::exception& failure) {
      LogWriterFailure("caught kel exception ", failure.TypeName(), entry.first, 407);
    } catch (const std::exception& failure) {
      LogWriterFailure("caught std exception ", failure.what(), entry.first, 413);
    }
  }
  return written;
}

size_t Manager::RecentStackCount() {
  Key key(floodLock_);
  return recentStacks_.size();
}

}  // namespace Log
}  // namespace Os
