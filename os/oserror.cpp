#include "os/oserror.h"

namespace Os {

os_exception::os_exception(uint32_t code, const std::string& text)
    : std::runtime_error(text), code_(code) {}

void ThrowError(uint32_t code) {
  throw os_exception(code, "Os Error " + std::to_string(code));
}

}  // namespace Os
