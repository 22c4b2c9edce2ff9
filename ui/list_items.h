#pragma once

#include <windows.h>

#include "ui/ui_module.h"

namespace Ui {

// Fills the dialog's lists from its LIST_ITEMS resource (same id as the
// dialog template; may be empty).
void LoadListItems(HWND dialog, const ResourceData& listItems);

}  // namespace Ui
