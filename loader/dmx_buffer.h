#pragma once

#include <cstdint>

// Points *out at the module's DMX data for patch row `row`, or at the blank
// universe (false). A null out is left alone.
bool GetRowBuffer(uint16_t row, uint8_t** out);
