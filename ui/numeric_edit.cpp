#include "ui/numeric_edit.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kValueChars = 7;
}  // namespace

void CNumericEdit::Subclass(HWND dialog, int id) {
  Bind(dialog, id);
  HWND edit = GetSafeHwnd();
  // The edit's own procedure is kept with the window, for the filter to
  // pass on to.
  SetWindowLongPtrW(edit, GWLP_USERDATA,
                    SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FilterProc)));
}

void CNumericEdit::SetValue(uint32_t value) {
  if (value > maxValue_) return;
  char text[16];
  std::snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(value));
  SetText(text);
}

uint32_t CNumericEdit::GetValue() const {
  char text[kValueChars + 1] = {};
  GetWindowTextA(GetSafeHwnd(), text, sizeof(text));
  return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
}

LRESULT CALLBACK CNumericEdit::FilterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR) {
    bool digit = wParam >= '0' && wParam <= '9';
    if (!digit && wParam != VK_BACK) return 0;
  }
  const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
  return CallWindowProcW(original, hwnd, message, wParam, lParam);
}
