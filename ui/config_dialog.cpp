#include "ui/config_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <shellapi.h>

#include "os/oslog.h"
#include "os/oslogmanager.h"
#include "ui/patch_table.h"
#include "ui/resource.h"
#include "ui/status_codes.h"
#include "ui/status_inbox.h"

namespace {

// Shown as "v3.10": the loader version as the single-precision 3.1.
constexpr float kShownLoaderVersion = 3.1f;
constexpr WPARAM kTrayIconId = IDI_TRAY_PRODUCT;
constexpr const char* kTrayTip = "Vexa DP";
constexpr const char* kCaptionPrefix = "Vexa DP";

constexpr int kTrayIconIds[] = {IDI_TRAY_PRODUCT, IDI_TRAY_WARNING, IDI_TRAY_EMBLEM, IDI_TRAY_EMBLEM_ALT};

// The notification area expects the record as of shell version 6.0.
static_assert(NOTIFYICONDATAA_V3_SIZE == (sizeof(void*) == 4 ? 504 : 520), "tray record size");

}  // namespace

CIxaConfigDialog::CIxaConfigDialog(Ui::StatusWindowOwner& owner, HWND parent)
    : Ui::Dialog(IDD_STATUS_WINDOW, parent), owner_(owner) {
  SetDefaultPatch();
}

void CIxaConfigDialog::PrepareRun() {
  uint32_t port;
  if (ReadPort(&port)) {
    port_.store(port);
  } else {
    port_.store(kDefaultPort);
    WritePort(kDefaultPort);
  }
  uint32_t retry = 1;
  ReadRetryAfterFailure(&retry);
  retriesAfterFailure_.store(retry != 0);
  for (int state = 0; state < kTrayStateCount; ++state) trayIcons_[state] = Ui::LoadSmallIcon(kTrayIconIds[state]);
}

void CIxaConfigDialog::EndRun() {
  for (Ui::UniqueIcon& icon : trayIcons_) icon.reset();
  Ui::StatusInbox::Clear();
}

void CIxaConfigDialog::BindControls() {
  HWND dialog = GetSafeHwnd();
  versionLabel_.Bind(dialog, IDC_VERSION);
  userNumberList_.Bind(dialog, IDC_USER_NUMBER);
  portField_.Subclass(dialog, IDC_PORT);
  infoLine_.Bind(dialog, IDC_INFO_LINE);
  statusLine_.Bind(dialog, IDC_STATUS_LINE);
  sessionLine_.Bind(dialog, IDC_SESSION_LINE);
  applyButton_.Bind(dialog, IDC_APPLY);
}

BOOL CIxaConfigDialog::OnInitDialog() {
  SetTrayIcon(NIM_ADD, kTrayProduct);

  BindControls();
  SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(trayIcons_[kTrayProduct].get()));
  portField_.SetValue(port_.load());

  userNumber_ = 1;
  ReadUserNumber(&userNumber_);
  if (userNumber_ < 1 || userNumber_ > 3) userNumber_ = 1;
  userNumberList_.SetCurSel(static_cast<int>(userNumber_) - 1);
  // After the port text, whose change notification has just enabled it.
  applyButton_.Enable(false);

  char version[32];
  std::snprintf(version, sizeof(version), "v%.2f", static_cast<double>(kShownLoaderVersion));
  versionLabel_.SetText(version);

  if (!ReadPatchTable()) WritePatchTable();
  PlaceWindow();
  owner_.WindowShown();
  return TRUE;
}

BOOL CIxaConfigDialog::SetTrayIcon(DWORD operation, TrayState state) {
  NOTIFYICONDATAA data;
  std::memset(&data, 0, sizeof(data));
  data.cbSize = NOTIFYICONDATAA_V3_SIZE;
  data.hWnd = GetSafeHwnd();
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = trayIcons_[state].get();
  std::snprintf(data.szTip, sizeof(data.szTip), "%s", kTrayTip);
  return Shell_NotifyIconA(operation, &data);
}

void CIxaConfigDialog::PlaceWindow() {
  HWND hwnd = GetSafeHwnd();
  // A minimised window keeps its iconic size; bring it back to its own.
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  RECT window;
  GetWindowRect(hwnd, &window);
  RECT workArea;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  SetWindowPos(hwnd, HWND_TOPMOST, workArea.right - (window.right - window.left),
               workArea.bottom - (window.bottom - window.top), 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(hwnd);
  SetFocus(hwnd);
}

void CIxaConfigDialog::Hide() { ShowWindow(GetSafeHwnd(), SW_HIDE); }

namespace {

// What the window shows goes to the log file too, and only there: the
// debugger output is an interface of its own, which these do not join.
void LogShownText(int32_t code, const char* text) {
  static Os::Log::Context context("Status window", Os::Log::Mask{Os::Log::kNotice});
  if (code < static_cast<int32_t>(Ui::StatusCode::Info) || code > static_cast<int32_t>(Ui::StatusCode::Caption) ||
      !context.IsEnabled(Os::Log::kNotice)) {
    return;
  }
  const std::string line = "shows code " + std::to_string(code) + ": " + (text != nullptr ? text : "");
  Os::Log::Manager::Instance().WriteToFileOnly(&context, Os::Log::kNotice, "ui\\config_dialog",
                                               "CIxaConfigDialog::ShowStatus", __LINE__, line.data(), line.size());
}

}  // namespace

void CIxaConfigDialog::ShowStatus(int32_t code, const char* text) {
  LogShownText(code, text);
  // Any number may come from the module; those without a meaning do nothing.
  switch (static_cast<Ui::StatusCode>(code)) {
    case Ui::StatusCode::Info:
      infoLine_.SetText(text != nullptr ? text : "");
      break;
    case Ui::StatusCode::Status:
      statusLine_.SetText(text != nullptr ? text : "");
      break;
    case Ui::StatusCode::Session:
      sessionLine_.SetText(text != nullptr ? text : "");
      break;
    case Ui::StatusCode::Caption: {
      std::string caption = kCaptionPrefix;
      if (text != nullptr && text[0] != '\0') caption = caption + " (" + text + ")";
      SetWindowTextA(GetSafeHwnd(), caption.c_str());
      break;
    }
    case Ui::StatusCode::Loaded:
      SetTrayIcon(NIM_MODIFY, kTrayProduct);
      break;
    case Ui::StatusCode::TrayEmblem:
      SetTrayIcon(NIM_MODIFY, kTrayEmblem);
      break;
    case Ui::StatusCode::TrayEmblemAlt:
      SetTrayIcon(NIM_MODIFY, kTrayEmblemAlt);
      break;
    case Ui::StatusCode::TrayWarning:
      SetTrayIcon(NIM_MODIFY, kTrayWarning);
      break;
  }
}

bool CIxaConfigDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case kTrayMessage:
      if (wParam != kTrayIconId || lParam != WM_LBUTTONDBLCLK) return false;
      PlaceWindow();
      *result = 1;
      return true;
    case kEndRequestMessage:
      EndDialog(1);
      *result = 1;
      return true;
    case kStatusMessage: {
      // Only a report the library queued is shown; any other such message,
      // whoever posted it, is ignored.
      int32_t code;
      std::string text;
      bool hasText;
      if (Ui::StatusInbox::Take(lParam, &code, &text, &hasText)) ShowStatus(code, hasText ? text.c_str() : nullptr);
      *result = 1;
      return true;
    }
    case WM_CLOSE:
      // The close box only hides; the run goes on.
      owner_.WindowClosedByUser();
      Hide();
      return true;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) return false;
      Hide();
      return true;
    case WM_DESTROY:
      SetTrayIcon(NIM_DELETE, kTrayProduct);
      return false;
    default:
      return false;
  }
}

void CIxaConfigDialog::OnCommand(int id, int notification) {
  switch (id) {
    case IDC_APPLY:
      OnApply();
      return;
    case IDC_PATCH:
      OnPatch();
      return;
    case IDC_RECONNECT:
      RestartUnlessNoPort();
      return;
    case IDC_CLOSE:
      Hide();
      return;
    case IDC_PORT:
      if (notification == EN_CHANGE) applyButton_.Enable(true);
      return;
    case IDC_USER_NUMBER:
      if (notification == CBN_SELCHANGE) applyButton_.Enable(true);
      return;
    default:
      Ui::Dialog::OnCommand(id, notification);
  }
}

void CIxaConfigDialog::OnApply() {
  applyButton_.Enable(false);

  uint32_t port = portField_.GetValue();
  // 0 means no port was entered; a number that is no port is not taken,
  // and the field shows the port again.
  if (port > kHighestPort) {
    portField_.SetValue(port_.load());
  } else if (port != 0 && port != port_.load()) {
    WritePort(port);
    port_.store(port);
    RestartUnlessNoPort();
  }

  int selected = userNumberList_.GetCurSel();
  if (selected >= 0 && static_cast<uint32_t>(selected) + 1 != userNumber_) {
    userNumber_ = static_cast<uint32_t>(selected) + 1;
    WriteUserNumber(userNumber_);
    owner_.ChangeUserNumber(static_cast<int32_t>(userNumber_));
  }

  WritePatchTable();
  applyButton_.Enable(true);
}

void CIxaConfigDialog::RestartUnlessNoPort() {
  if (port_.load() != kNoSearchPort) owner_.RestartDetection();
}

void CIxaConfigDialog::EndNestedDialogs() {
  // An open Patch dialog would keep this window's run going until the user
  // closes it; ending the run cancels it.
  // IDABORT, not the user's IDCANCEL: the caller then writes nothing.
  if (currentPatchDialog_ && currentPatchDialog_->GetSafeHwnd() != nullptr) currentPatchDialog_->EndDialog(IDABORT);
}

void CIxaConfigDialog::OnPatch() {
  currentPatchDialog_ = std::make_unique<OrbPatchDialog>(GetSafeHwnd(), owner_);
  // Written after the user's Cancel as well; a run that ends (ShutdownOB,
  // the end request) writes nothing on its way out.
  if (currentPatchDialog_->DoModal() != IDABORT) WritePatchTable();
}
