#pragma once

#include <windows.h>

#include "os/win32/unique_resource.h"

namespace Os {

struct LibraryTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type library) { return library != nullptr; }
  static void Close(Type library) { FreeLibrary(library); }
};

// A library loaded by this code, freed when no longer needed.
using UniqueLibrary = UniqueResource<LibraryTraits>;

}  // namespace Os
