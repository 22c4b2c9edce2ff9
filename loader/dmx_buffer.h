#pragma once

#include <cstdint>

// Points *out at the module's DMX data for patch row `row`, or at the blank
// universe (false): no module, row out of range or disabled, no node for its
// processor, or the module refused or raised an exception. A null out is
// left alone. Takes no lock and allocates nothing.
bool GetRowBuffer(uint16_t row, uint8_t** out) noexcept;
