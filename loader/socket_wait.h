#pragma once

#include <winsock2.h>

// The connection worker's blocking socket waits, made stoppable: each wait
// runs in short slices and ends as soon as detection is being stopped, so
// ShutdownOB never waits out a receive timeout, a connect or a stalled
// console.

constexpr DWORD kNoTimeLimit = INFINITE;

enum class SocketReadiness { Readable, Writable };
enum class WaitResult { Ready, TimedOut, Stopped, Failed };

// True once StopConnectionWorker has cleared the detection flag.
bool DetectionStopping();

// Waits until the socket is readable, or writable (or has failed, for a
// pending connect), or timeoutMs has passed, or detection is being stopped.
// Failed leaves the socket error as the last error.
WaitResult WaitForSocket(SOCKET socket, SocketReadiness readiness, DWORD timeoutMs);
