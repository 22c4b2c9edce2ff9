#pragma once

#include <windows.h>

#include "os/win32/unique_resource.h"

namespace Os {

// A library loaded by this code, freed when no longer needed.
using UniqueLibrary = UniqueResource<CloseTraits<HMODULE, FreeLibrary>>;

}  // namespace Os
