#include "loader/dmx_buffer.h"

#include "loader/loader_state.h"

bool GetRowBuffer(uint16_t, uint8_t** out) {
  if (out != nullptr) *out = Loader().blankUniverse;
  return false;
}
