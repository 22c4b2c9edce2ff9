#pragma once

#include <cstdint>

#include "loader/processor_api.h"

// Calls the module's GetPortBuffer inside a structured exception frame of
// our own: a Win32 exception raised in the module (RaiseException, access
// violation, ...) and left unhandled there unwinds the module's frames and
// comes back here as a 0 result instead of reaching the host. GCC on i686
// has no __try/__except, and catch (...) sees no structured exceptions, so
// the frame is built by hand. Costs a few instructions; no allocation, no
// lock, nothing shared (the frame chain lives in the thread's own TEB).
extern "C" int32_t __cdecl IxaGuardedGetPortBuffer(GetPortBufferFn getPortBuffer, uint32_t port,
                                                    int32_t universe, uint8_t** out);
