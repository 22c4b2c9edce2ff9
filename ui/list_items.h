#pragma once

#include <windows.h>

namespace Ui {

// Fills the dialog's lists from its LIST_ITEMS resource (same id as the
// dialog template), if the module has one.
void LoadListItems(HWND dialog, int templateId);

}  // namespace Ui
