#include "ui/list_items.h"

#include <cstring>

namespace Ui {

// Layout, repeated per list: 16-bit control id, the items as zero-terminated
// strings, an empty string; a control id of 0 ends the data.
void LoadListItems(HWND dialog, const ResourceData& listItems) {
  const char* data = static_cast<const char*>(listItems.data);
  if (data == nullptr) return;
  const char* const end = data + listItems.size;

  while (end - data >= 2) {
    WORD controlId;
    std::memcpy(&controlId, data, sizeof(controlId));
    data += sizeof(controlId);
    if (controlId == 0) return;
    HWND list = GetDlgItem(dialog, controlId);
    for (;;) {
      const char* terminator = static_cast<const char*>(std::memchr(data, '\0', static_cast<size_t>(end - data)));
      if (terminator == nullptr) return;  // truncated resource: keep what was read
      if (terminator == data) {
        ++data;
        break;
      }
      SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(data));
      data = terminator + 1;
    }
  }
}

}  // namespace Ui
