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
// What the Patch dialog offers: DP# 1 to 9 (dpIndex 0 to 8), and universes
// 1 to 16 of each (universe 0 to 15).
constexpr int32_t kDpCount = 9;
constexpr int32_t kUniversesPerDp = 16;

// Row r's defaults: processor r / 16, universe r mod 16.
constexpr int32_t DefaultDpIndex(int row) { return row / kUniversesPerDp; }
constexpr int32_t DefaultUniverse(int row) { return row % kUniversesPerDp; }

// The process-wide patch table; row r serves the host's universe r. Inline:
// GetDMXBuffer finds its row at a fixed address.
inline PatchRow gPatchTable[kPatchRowCount];
inline PatchRow* PatchTable() { return gPatchTable; }

// Every row enabled, with its default processor and universe, unresolved.
void SetDefaultPatch();
