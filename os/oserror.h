#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Os {

// An operating-system failure, carrying the system error code.
class os_exception : public std::runtime_error {
 public:
  os_exception(uint32_t code, const std::string& text);
  uint32_t Code() const { return code_; }

 private:
  uint32_t code_;
};

// Throws os_exception for the given system error code.
[[noreturn]] void ThrowError(uint32_t code);

}  // namespace Os
