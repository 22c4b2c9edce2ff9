#pragma once

#include <windows.h>

#include "os/win32/unique_resource.h"

namespace Ui {

// An icon loaded without LR_SHARED.
using UniqueIcon = Os::UniqueResource<Os::CloseTraits<HICON, DestroyIcon>>;

// A 16 by 16 icon of this module in default colours; none when missing.
UniqueIcon LoadSmallIcon(int id);

}  // namespace Ui
