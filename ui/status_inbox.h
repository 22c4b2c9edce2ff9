#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

namespace Ui {

// Status texts on their way to the status window. The copies stay in the
// library, and the window message that announces one (kStatusMessage)
// carries only its ticket: any program on the desktop can post that
// message, so the window never frees or reads a pointer that came with it.
class StatusInbox {
 public:
  // The longest text kept; longer ones are cut.
  static constexpr size_t kMaxText = 1024;

  // Keeps a copy of the text (null: none) and posts its ticket to the
  // window. False when the window takes no message or too many are waiting:
  // the report is then dropped.
  static bool Post(HWND window, int32_t code, const char* text);
  // The report posted with this ticket, taken out. False for a ticket the
  // inbox did not issue or has already handed out.
  static bool Take(LPARAM ticket, int32_t* code, std::string* text, bool* hasText);
  // Reports posted and not yet taken.
  static size_t Pending();
  // Drops every report still waiting: the window is gone.
  static void Clear();
};

}  // namespace Ui
