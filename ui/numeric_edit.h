#pragma once

#include <cstdint>

#include "ui/controls.h"

// A single-line edit that takes only decimal digits (and backspace) from
// the keyboard. Text arriving by other ways, such as pasting, is not
// filtered; GetValue then reads the leading number.
class CNumericEdit : public Ui::Edit {
 public:
  // Binds the dialog's edit control and filters its typed characters; the
  // filter holds no reference to this object and leaves with the window.
  void Subclass(HWND dialog, int id);

  void SetValue(uint32_t value);
  // The number at the start of the first seven characters, as strtoul reads
  // it in base 10; 0 when there is none.
  uint32_t GetValue() const;

 private:
  static LRESULT CALLBACK FilterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  const uint32_t maxValue_ = 0xFFFFFFFF;
};
