#include "loader/library_thread.h"

#include <windows.h>

#include "os/osboundary.h"
#include "os/osos.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Ixa {

namespace {

// msvcrt's _beginthreadex leaves the library alone; the UCRT's takes a
// reference itself and gives it back with FreeLibraryAndExitThread once the
// procedure returns. Either way each thread holds exactly one.
#if defined(_UCRT)
constexpr bool kRuntimeHoldsTheLibrary = true;
#else
constexpr bool kRuntimeHoldsTheLibrary = false;
#endif

thread_local bool tLibraryThread = false;

HMODULE ThisLibrary() { return reinterpret_cast<HMODULE>(&__ImageBase); }

unsigned __stdcall RunHoldingTheLibrary(void* procedure) {
  const auto run = reinterpret_cast<Os::Thread::Procedure>(procedure);
  tLibraryThread = true;
  const unsigned code = Os::Contain("a library thread", 0u, [&] { return run(nullptr); });
  if (kRuntimeHoldsTheLibrary) return code;
  // Should this be the last reference, the unload runs in here and the
  // system ends the thread from its own code.
  FreeLibraryAndExitThread(ThisLibrary(), code);
}

}  // namespace

Os::UniqueLibrary HoldThisLibrary() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&__ImageBase), &self)) {
    Os::ThrowOsError(static_cast<int32_t>(GetLastError()));
  }
  return Os::UniqueLibrary(self);
}

// The reference is taken before the thread exists, so it never runs
// without it, and given back at once when the thread cannot be made.
LibraryThread::LibraryThread(Os::Thread::Procedure procedure) {
  Os::UniqueLibrary reference;
  if (!kRuntimeHoldsTheLibrary) reference = HoldThisLibrary();
  thread_ =
      std::make_unique<Os::Thread>(&RunHoldingTheLibrary, reinterpret_cast<void*>(procedure), nullptr, Os::Default, 0);
  reference.release();  // the thread's now
}

LibraryThread::~LibraryThread() { thread_->Abandon(); }

bool LibraryThread::IsCallingThread() const { return thread_->GetId() == Os::Thread::CurrentThreadId(); }

bool LibraryThread::OnLibraryThread() { return tLibraryThread; }

void LibraryThread::Join() { thread_->Join(); }

}  // namespace Ixa
