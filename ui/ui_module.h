#pragma once

#include <stdexcept>

#include <windows.h>

namespace Ui {

// The module whose resources the windows use: the library itself (or the
// test program the user-interface code is linked into).
HINSTANCE ModuleInstance();

// The window layer's invalid-argument error.
class invalid_argument_error : public std::invalid_argument {
 public:
  invalid_argument_error() : std::invalid_argument("invalid argument") {}
};

[[noreturn]] void ThrowInvalidArgument();

}  // namespace Ui
