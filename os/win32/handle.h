#pragma once

#include <windows.h>

#include "os/win32/unique_resource.h"

namespace Os {

struct HandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  // Creation calls report failure with either value.
  static bool IsValid(Type handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { CloseHandle(handle); }
};

// A kernel object handle.
using UniqueHandle = UniqueResource<HandleTraits>;

}  // namespace Os
