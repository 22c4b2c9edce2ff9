#include "os/win32/osthread.h"

#include <process.h>

#include <windows.h>

#include "kellib/text.h"
#include "os/oslog.h"
#include "os/oslogcontexts.h"
#include "os/osos.h"
#include "os/osthreadname.h"
#include "os/win32/handle.h"

namespace Os {

struct Thread::HandleRecord {
  UniqueHandle handle;
  unsigned id = 0;
};

namespace {

// Maps a priority class to a thread priority; false when the thread keeps
// the priority it inherits.
bool ThreadPriorityFor(int priorityClass, int* priority) {
  switch (priorityClass) {
    case Low:
      *priority = THREAD_PRIORITY_BELOW_NORMAL;
      return true;
    case Normal:
      *priority = THREAD_PRIORITY_NORMAL;
      return true;
    case High:
      *priority = THREAD_PRIORITY_ABOVE_NORMAL;
      return true;
    case RealTime:
      *priority = THREAD_PRIORITY_TIME_CRITICAL;
      return true;
    default:
      return false;
  }
}

std::wstring WidenName(const char* name) {
  std::wstring wide;
  if (name == nullptr) return wide;
  for (const char* c = name; *c != '\0'; ++c) {
    // Sign-extending, as every narrow-to-wide conversion of the framework.
    wide.push_back(static_cast<wchar_t>(static_cast<signed char>(*c)));
  }
  return wide;
}

constexpr const char* kSource = "os\\win32\\osthread";

// Logs the failed step with its error code, then raises the code. A thread
// that was created suspended has not run: it is ended here and its name
// forgotten, and its handle is closed as the record goes with the failed
// constructor.
void ReportCreationFailure(const char* step, unsigned line, HANDLE suspended = nullptr, unsigned id = 0) {
  DWORD error = GetLastError();
  if (suspended != nullptr) {
    TerminateThread(suspended, error);
    RemoveThreadName(id);
  }
  Log::LogWithStack(Log::ThreadContext(), Log::kError, {kSource, "Os::Thread::Thread", line},
                    [&](kel::text& text) { text.Append(step).AppendUnsigned(error); });
  ThrowOsError(static_cast<int32_t>(error));
}

}  // namespace

Thread::Thread(Procedure procedure, void* argument, const char* name, int priority, uint32_t stackSize)
    : record_(std::make_unique<HandleRecord>()) {
  record_->handle.reset(reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, stackSize, procedure, argument, CREATE_SUSPENDED, &record_->id)));
  HANDLE thread = record_->handle.get();
  if (thread == nullptr) {
    record_->id = 0;
    ReportCreationFailure("_beginthreadex() failure:  ", 70);
  }
  int threadPriority = 0;
  if (ThreadPriorityFor(priority, &threadPriority) && !SetThreadPriority(thread, threadPriority)) {
    ReportCreationFailure("SetThreadPriority() failure:  ", 140, thread, record_->id);
  }
  // Named while still suspended, so the thread's first log line has it.
  SetThreadName(record_->id, WidenName(name));
  if (ResumeThread(thread) == static_cast<DWORD>(-1)) {
    ReportCreationFailure("ResumeThread() failure:  ", 152, thread, record_->id);
  }
}

Thread::~Thread() { Join(); }

bool Thread::Join() {
  if (!record_->handle) return true;
  DWORD result = WaitForSingleObject(record_->handle.get(), INFINITE);
  if (result != WAIT_OBJECT_0) {
    Log::LogWithStack(Log::ThreadContext(), Log::kError, {kSource, "Os::Thread::Join", 195}, [&](kel::text& text) {
      text.Append("error ").AppendUnsigned(result).Append(" joining thread ");
      text.Append(GetThreadName(GetCurrentThreadId()).c_str());
    });
    return false;
  }
  RemoveThreadName(record_->id);
  record_->handle.reset();
  return true;
}

uint32_t Thread::GetId() const { return record_->id; }

void Thread::Abandon() {
  if (!record_->handle) return;
  RemoveThreadName(record_->id);
  record_->handle.reset();
}

}  // namespace Os
