#pragma once

#include <windows.h>

#include "os/win32/unique_resource.h"

namespace Ui {

struct IconTraits {
  using Type = HICON;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type icon) { return icon != nullptr; }
  static void Close(Type icon) { DestroyIcon(icon); }
};

// An icon loaded without LR_SHARED.
using UniqueIcon = Os::UniqueResource<IconTraits>;

// A 16 by 16 icon of this module in default colours; none when missing.
UniqueIcon LoadSmallIcon(int id);

}  // namespace Ui
