#include "ui/icon.h"

#include "ui/ui_module.h"

namespace Ui {

UniqueIcon LoadSmallIcon(int id) {
  return UniqueIcon(
      static_cast<HICON>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
}

}  // namespace Ui
