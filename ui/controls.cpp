#include "ui/controls.h"

namespace Ui {

std::string Control::GetText() const {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd_, &text[0], static_cast<int>(text.size()))));
  return text;
}

}  // namespace Ui
