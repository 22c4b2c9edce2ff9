#pragma once

#include <cstddef>
#include <stdexcept>

#include <windows.h>

namespace Ui {

// The module whose resources the windows use: the library itself (or the
// test program the user-interface code is linked into).
HINSTANCE ModuleInstance();

// A resource of this module, mapped as long as the module is.
struct ResourceData {
  const void* data = nullptr;
  size_t size = 0;
};
// Empty when the module has no such resource.
ResourceData FindResourceData(int id, const wchar_t* type);

// The window layer's invalid-argument error.
class invalid_argument_error : public std::invalid_argument {
 public:
  invalid_argument_error() : std::invalid_argument("invalid argument") {}
};

[[noreturn]] void ThrowInvalidArgument();

}  // namespace Ui
