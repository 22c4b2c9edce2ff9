#pragma once

namespace Os {

// A full memory barrier on every processor running a thread of this
// process, paid for by the caller alone. It lets a hot path publish a flag
// with a plain store (no locked instruction) when the rare other side calls
// this before reading the flags: afterwards each flag stored before the
// hot path's next read is visible here.
void ProcessWideMemoryBarrier();

}  // namespace Os
