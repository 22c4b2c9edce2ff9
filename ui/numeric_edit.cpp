#include "ui/numeric_edit.h"

#include <cstdio>
#include <cstdlib>

#include <commctrl.h>

namespace {
constexpr UINT_PTR kSubclassId = 1001;
constexpr int kValueChars = 7;
}  // namespace

void CNumericEdit::Subclass(HWND dialog, int id) {
  Bind(dialog, id);
  SetWindowSubclass(GetSafeHwnd(), &FilterProc, kSubclassId, 0);
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

LRESULT CALLBACK CNumericEdit::FilterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR) {
  if (message == WM_CHAR) {
    bool digit = wParam >= '0' && wParam <= '9';
    if (!digit && wParam != VK_BACK) return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &FilterProc, kSubclassId);
  return DefSubclassProc(hwnd, message, wParam, lParam);
}
