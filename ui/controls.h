#pragma once

#include <windows.h>

namespace Ui {

// A dialog control, bound by id once the dialog window exists.
class Control {
 public:
  void Bind(HWND dialog, int id) { hwnd_ = GetDlgItem(dialog, id); }
  HWND GetSafeHwnd() const { return hwnd_; }
  void SetText(const char* text) { SetWindowTextA(hwnd_, text); }
  void Enable(bool enabled) { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }

 protected:
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return SendMessageA(hwnd_, message, wParam, lParam);
  }

 private:
  HWND hwnd_ = nullptr;
};

class Static : public Control {};

class Button : public Control {};

class Edit : public Control {};

class ComboBox : public Control {
 public:
  // Index of the selected item, or -1 when none is selected.
  int GetCurSel() const { return static_cast<int>(Send(CB_GETCURSEL, 0, 0)); }
  // Selects an item without a selection-change notification.
  void SetCurSel(int index) { Send(CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
};

}  // namespace Ui
