#include "loader/socket_wait.h"

#include <algorithm>

#include "loader/loader_state.h"

namespace {
// Bounds how long a stop request goes unnoticed.
constexpr DWORD kSliceMs = 10;
}  // namespace

bool DetectionStopping() { return !Loader().detecting.load(); }

WaitResult WaitForSocket(SOCKET socket, SocketReadiness readiness, DWORD timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (DetectionStopping()) return WaitResult::Stopped;
    DWORD slice = kSliceMs;
    if (timeoutMs != kNoTimeLimit) {
      ULONGLONG elapsed = GetTickCount64() - start;
      if (elapsed >= timeoutMs) return WaitResult::TimedOut;
      slice = static_cast<DWORD>(std::min<ULONGLONG>(slice, timeoutMs - elapsed));
    }
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval wait{0, static_cast<long>(slice) * 1000};
    fd_set* readSet = readiness == SocketReadiness::Readable ? &ready : nullptr;
    fd_set* writeSet = readiness == SocketReadiness::Writable ? &ready : nullptr;
    int count = select(0, readSet, writeSet, &failed, &wait);
    if (count == SOCKET_ERROR) return WaitResult::Failed;
    if (count > 0) return WaitResult::Ready;
  }
}
