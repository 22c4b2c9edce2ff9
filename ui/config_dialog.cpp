#include "ui/config_dialog.h"

#include <cstdlib>

#include "loader/detection.h"
#include "loader/loader_state.h"
#include "ui/patch_table.h"
#include "ui/resource.h"

CIxaConfigDialog::CIxaConfigDialog(HWND parent) : Ui::Dialog(IDD_STATUS_WINDOW, parent) {
  SetDefaultPatch();
}

BOOL CIxaConfigDialog::OnInitDialog() {
  SetDlgItemInt(GetSafeHwnd(), IDC_PORT, Port(), FALSE);
  SetDlgItemTextA(GetSafeHwnd(), IDC_VERSION, "v3.10");
  SetLoaderEvent(kDialogDisplayed);
  return TRUE;
}

void CIxaConfigDialog::ShowStatus(int code, const char* text) {
  static const int kLines[] = {IDC_INFO_LINE, IDC_STATUS_LINE, IDC_SESSION_LINE};
  if (code >= 0 && code <= 2) SetDlgItemTextA(GetSafeHwnd(), kLines[code], text ? text : "");
}

bool CIxaConfigDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case kEndRequestMessage:
      EndDialog(1);
      *result = 1;
      return true;
    case kStatusMessage: {
      char* text = reinterpret_cast<char*>(lParam);
      ShowStatus(static_cast<int>(wParam), text);
      free(text);
      *result = 1;
      return true;
    }
    default:
      return false;
  }
}

void CIxaConfigDialog::OnCommand(int id, int notification) {
  if (id == IDC_RECONNECT) {
    RestartDetection(static_cast<int32_t>(Port()));
    return;
  }
  if (id == IDC_CLOSE) {
    ShowWindow(GetSafeHwnd(), SW_HIDE);
    return;
  }
  Ui::Dialog::OnCommand(id, notification);
}
