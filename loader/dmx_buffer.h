#pragma once

#include <cstddef>
#include <cstdint>

namespace Ixa {

constexpr size_t kUniverseSize = 512;

// 512 zero bytes in read-only memory, handed out when a row has no data: a
// host that writes into it faults rather than lighting every unpatched
// universe.
extern const uint8_t kBlankUniverse[kUniverseSize];

// Points *out at the module's DMX data for patch row `row`, or at the blank
// universe (false): no module, row out of range or disabled, no node for its
// processor, or the module refused, answered a null buffer or raised an
// exception. A null out is left alone. Takes no lock and allocates nothing.
bool GetRowBuffer(uint16_t row, uint8_t** out) noexcept;

}  // namespace Ixa
