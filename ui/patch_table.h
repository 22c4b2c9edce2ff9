#pragma once

#include <atomic>
#include <cstdint>

// One host DMX universe of the patch. Host threads read rows while the
// window and the worker write them, so every field is one atomic value.
struct PatchRow {
  std::atomic<uint8_t> enabled;
  std::atomic<int32_t> dpIndex;    // processor number minus 1
  std::atomic<int32_t> universe;   // universe within the processor minus 1
  std::atomic<int32_t> portIndex;  // resolved processor port, -1 when unresolved
};

constexpr int kPatchRowCount = 64;

// The process-wide patch table; row r serves the host's universe r. Inline:
// GetDMXBuffer finds its row at a fixed address.
inline PatchRow gPatchTable[kPatchRowCount];
inline PatchRow* PatchTable() { return gPatchTable; }

// Row r: enabled, processor r / 16, universe r mod 16, unresolved.
void SetDefaultPatch();
