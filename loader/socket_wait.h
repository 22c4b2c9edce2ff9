#pragma once

#include <winsock2.h>

namespace Ixa {

// The connection worker's blocking waits, made stoppable: each waits on the
// socket's network events and the stop event together, so ShutdownOB never
// waits out a receive timeout, a connect or a stalled console, and waiting
// costs no processor time.

enum class SocketReadiness { Readable, Writable };
enum class WaitResult { Ready, TimedOut, Stopped, Failed };

// socket(AF_INET, type, protocol).
SOCKET OpenSocket(int type, int protocol);

// True once StopConnectionWorker has cleared the detection flag.
bool DetectionStopping();

// Waits until the socket is readable (or closed by the peer), or writable
// (or its pending connect has ended), or timeoutMs has passed, or detection
// is being stopped. Failed leaves the socket error as the last error. The
// socket is left non-blocking.
WaitResult WaitForSocket(SOCKET socket, SocketReadiness readiness, DWORD timeoutMs);

// Waits timeoutMs unless detection is being stopped first; true when stopped.
bool WaitForStop(DWORD timeoutMs);

}  // namespace Ixa
