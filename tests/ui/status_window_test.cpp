// The status window driven by messages while the loader's status thread
// runs it: status reports, the tray icon, hiding and showing, the end of the
// run, Apply and Reconnect.
#include <gtest/gtest.h>

#include <atomic>

#include <windows.h>

#include <shellapi.h>

#include "loader/detection.h"
#include "loader/loader_state.h"
#include "loader/status_report.h"
#include "tests/support/test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/config_dialog.h"
#include "ui/patch_table.h"
#include "ui/resource.h"
#include "ui/status_inbox.h"

using namespace Ixa;

namespace ui_testing {
namespace {

using testing_support::FindOwnWindow;
using testing_support::WaitUntil;

constexpr const char* kLocating = "Locating Corvane Network...";

TEST_F(StatusWindowTest, StatusCodesSetLinesAndCaptionAndEveryTextIsFreed) {
  StartWindow();
  PostStatus(0, "info text");
  PostStatus(1, "VexaNet");
  PostStatus(2, "Session 1");
  Sync();
  EXPECT_EQ(Text(IDC_INFO_LINE), "info text");
  EXPECT_EQ(Text(IDC_STATUS_LINE), "VexaNet");
  EXPECT_EQ(Text(IDC_SESSION_LINE), "Session 1");
  EXPECT_EQ(Caption(), "Vexa Visualiser");

  PostStatus(3, "2");
  Sync();
  EXPECT_EQ(Caption(), "Vexa DP (2)");
  PostStatus(3, "");
  Sync();
  EXPECT_EQ(Caption(), "Vexa DP");
  PostStatus(3, "7");
  PostStatus(3, nullptr);
  Sync();
  EXPECT_EQ(Caption(), "Vexa DP");

  // Codes that do nothing still take their text out of the inbox, and a
  // status message the library did not post (any program may post one,
  // with any pointer) is ignored: nothing is read or freed.
  for (int code : {4, 9, 10, 1000, -1}) PostStatus(code, "ignored");
  for (LPARAM foreign : {LPARAM{0x1000}, LPARAM{-1}, LPARAM{0}}) PostMessageW(Window(), kStatusMessage, 0, foreign);
  Sync();
  EXPECT_EQ(Ui::StatusInbox::Pending(), 0u);
  EXPECT_EQ(Text(IDC_INFO_LINE), "info text");
  EXPECT_EQ(Text(IDC_STATUS_LINE), "VexaNet");
  EXPECT_EQ(Text(IDC_SESSION_LINE), "Session 1");
  EXPECT_EQ(Caption(), "Vexa DP");

  // A null text empties the line.
  PostStatus(0, nullptr);
  PostStatus(1, nullptr);
  PostStatus(2, nullptr);
  Sync();
  EXPECT_EQ(Text(IDC_INFO_LINE), "");
  EXPECT_EQ(Text(IDC_STATUS_LINE), "");
  EXPECT_EQ(Text(IDC_SESSION_LINE), "");

  // ReportStatus, the loader's way in, makes its own copy.
  ReportStatus(1, "from the loader");
  Sync();
  EXPECT_EQ(Text(IDC_STATUS_LINE), "from the loader");

  // An unreadable text is dropped with its report; the caller goes on. A
  // text longer than the inbox keeps is cut there.
  ReportStatus(1, reinterpret_cast<const char*>(static_cast<uintptr_t>(16)));
  Sync();
  EXPECT_EQ(Text(IDC_STATUS_LINE), "from the loader");
  const std::string longText(5000, 'x');
  ReportStatus(0, longText.c_str());
  Sync();
  EXPECT_EQ(SendDlgItemMessageA(Window(), IDC_INFO_LINE, WM_GETTEXTLENGTH, 0, 0),
            static_cast<LRESULT>(Ui::StatusInbox::kMaxText));
}

TEST_F(StatusWindowTest, TrayIconIsAddedChangedByCodes5To8AndDeletedAtTheEnd) {
  ClearTrayCalls();
  StartWindow();
  for (int code : {5, 6, 7, 8}) PostStatus(code, "ignored text");
  Sync();
  HWND window = Window();
  std::vector<TrayCall> calls = TrayCallsFor(window);
  ASSERT_EQ(calls.size(), 5u);
  const TrayCall& added = calls[0];
  EXPECT_EQ(added.operation, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(added.id, 1004u);
  EXPECT_EQ(added.flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(added.callbackMessage, static_cast<UINT>(WM_USER + 2));
  EXPECT_EQ(added.tip, L"Vexa DP");
  ASSERT_FALSE(added.iconBits.empty());
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].operation, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[i].id, 1004u);
    EXPECT_EQ(calls[i].tip, L"Vexa DP");
  }
  // Code 5 shows the icon of the start; 6 and 7 the same emblem; 8 another.
  EXPECT_EQ(calls[1].iconBits, added.iconBits);
  EXPECT_NE(calls[2].iconBits, added.iconBits);
  EXPECT_EQ(calls[3].iconBits, calls[2].iconBits);
  EXPECT_NE(calls[4].iconBits, added.iconBits);
  EXPECT_NE(calls[4].iconBits, calls[2].iconBits);

  ShutdownLoader(true);
  calls = TrayCallsFor(window);
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[5].operation, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls[5].id, 1004u);
}

TEST_F(StatusWindowTest, OpensTopmostInTheBottomRightCornerOfTheWorkArea) {
  StartWindow();
  RECT workArea, window;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  GetWindowRect(Window(), &window);
  EXPECT_TRUE(IsWindowVisible(Window()));
  EXPECT_EQ(window.right, workArea.right);
  EXPECT_EQ(window.bottom, workArea.bottom);
  EXPECT_TRUE(GetWindowLongW(Window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(Text(IDC_VERSION), "v3.10");
  EXPECT_EQ(Text(IDC_PORT), "6600");
}

TEST_F(StatusWindowTest, CloseCloseBoxAndMinimiseHideAndOnlyTheCloseBoxResetsDisplayed) {
  StartWindow();
  HANDLE displayed = Event(kDialogDisplayed);
  auto showThroughTray = [&] {
    // A single click and a right click do nothing; a double click shows it.
    PostMessageW(Window(), kTrayMessage, 1004, WM_LBUTTONUP);
    PostMessageW(Window(), kTrayMessage, 1004, WM_RBUTTONUP);
    PostMessageW(Window(), kTrayMessage, 1005, WM_LBUTTONDBLCLK);
    Sync();
    EXPECT_FALSE(IsWindowVisible(Window()));
    PostMessageW(Window(), kTrayMessage, 1004, WM_LBUTTONDBLCLK);
    Sync();
    EXPECT_TRUE(IsWindowVisible(Window()));
    EXPECT_FALSE(IsIconic(Window()));
    RECT workArea, window;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    GetWindowRect(Window(), &window);
    EXPECT_EQ(window.right, workArea.right);
    EXPECT_EQ(window.bottom, workArea.bottom);
    EXPECT_TRUE(GetWindowLongW(Window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  };

  Click(IDC_CLOSE);
  EXPECT_FALSE(IsWindowVisible(Window()));
  EXPECT_EQ(WaitForSingleObject(displayed, 0), WAIT_OBJECT_0);
  showThroughTray();
  // A re-show does not set the event again.
  EXPECT_EQ(WaitForSingleObject(displayed, 0), WAIT_TIMEOUT);

  SetEvent(displayed);
  ShowWindowAsync(Window(), SW_MINIMIZE);
  Sync();
  EXPECT_FALSE(IsWindowVisible(Window()));
  EXPECT_EQ(WaitForSingleObject(displayed, 0), WAIT_OBJECT_0);
  showThroughTray();

  SetEvent(displayed);
  PostMessageW(Window(), WM_CLOSE, 0, 0);
  Sync();
  EXPECT_FALSE(IsWindowVisible(Window()));
  EXPECT_EQ(WaitForSingleObject(displayed, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(IsWindow(Window())) << "the close box must not end the run";
  showThroughTray();
}

TEST_F(StatusWindowTest, EscapeEndsTheRunForGood) {
  ClearTrayCalls();
  StartWindow();
  HWND window = Window();
  PostMessageW(GetDlgItem(window, IDC_CLOSE), WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_EQ(WaitForSingleObject(Event(kDialogClosed), 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(IsWindow(window));
  std::vector<TrayCall> calls = TrayCallsFor(window);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().operation, static_cast<DWORD>(NIM_DELETE));

  // Later reports are dropped, and the window does not come back.
  ReportStatus(1, "after the end");
  ReportStatus(5, "after the end");
  EXPECT_EQ(WaitForSingleObject(Event(kDllLoaded), 0), WAIT_TIMEOUT);
  Sleep(200);
  EXPECT_EQ(FindOwnWindow("Vexa Visualiser"), nullptr);
}

TEST_F(StatusWindowTest, ApplyWithoutAPortWritesOnlyThePatchTable) {
  store_.CreateEmpty();
  StartWindow();
  store_.Delete("port");
  for (const char* text : {"", "0"}) {
    SCOPED_TRACE(text);
    for (int n = 0; n < kPatchRowCount; ++n) store_.Delete(("DP_" + std::to_string(n)).c_str());
    SetPortText(text);
    EXPECT_TRUE(ApplyEnabled());
    Click(IDC_APPLY);
    Sync();
    EXPECT_EQ(Loader().statusWindow->Port(), 6600u);
    EXPECT_EQ(store_.CountValues(), 192);
    EXPECT_EQ(store_.GetOr("DP_63", 99), 3u);
    EXPECT_EQ(Text(IDC_STATUS_LINE), "") << "detection must not restart";
    EXPECT_TRUE(ApplyEnabled()) << "Apply stays enabled after its first use";
  }
}

TEST_F(StatusWindowTest, ApplyWithANewPortStoresItAndRestartsDetection) {
  store_.CreateEmpty();
  StartWindow();
  SetPortText("7000");
  Click(IDC_APPLY);
  Sync();
  EXPECT_EQ(store_.GetOr("port", 0), 7000u);
  EXPECT_EQ(Loader().statusWindow->Port(), 7000u);
  // The new worker searches on the new port.
  EXPECT_TRUE(WaitUntil([&] { return Text(IDC_INFO_LINE).find("port 7000") != std::string::npos; }, 5000))
      << Text(IDC_INFO_LINE);
  EXPECT_TRUE(WaitUntil([&] { return Text(IDC_STATUS_LINE) == kLocating; }, 5000));

  // A number that is no port is not taken: the field shows the port again.
  SetPortText("1234567");
  Click(IDC_APPLY);
  Sync();
  EXPECT_EQ(store_.GetOr("port", 0), 7000u);
  EXPECT_EQ(Loader().statusWindow->Port(), 7000u);
  EXPECT_EQ(Text(IDC_PORT), "7000");
  EXPECT_TRUE(Loader().detecting.load());
}

TEST_F(StatusWindowTest, Port65535IsStoredButNeverRestartsDetection) {
  store_.CreateEmpty();
  StartWindow();
  SetPortText("65535");
  Click(IDC_APPLY);
  Sync();
  EXPECT_EQ(store_.GetOr("port", 0), 65535u);
  EXPECT_EQ(Loader().statusWindow->Port(), 65535u);
  Click(IDC_RECONNECT);
  Sync();
  EXPECT_EQ(Text(IDC_INFO_LINE), "");
  EXPECT_EQ(Text(IDC_STATUS_LINE), "");
  EXPECT_FALSE(Loader().detecting.load());
}

TEST_F(StatusWindowTest, ReconnectRestartsDetectionWithTheStoredLaunchOption) {
  StartWindow();
  Loader().launchOption.store(7);
  Click(IDC_RECONNECT);
  Sync();
  EXPECT_TRUE(WaitUntil([&] { return Text(IDC_INFO_LINE).find("port 6600") != std::string::npos; }, 5000))
      << Text(IDC_INFO_LINE);
  EXPECT_TRUE(WaitUntil([&] { return Text(IDC_STATUS_LINE) == kLocating; }, 5000));
  EXPECT_TRUE(Loader().detecting.load());
  EXPECT_EQ(Loader().launchOption.load(), 7);
  Loader().launchOption.store(0);
}

std::atomic<int> gChangeUserNumCalls{0};
std::atomic<int> gLastUserNumber{0};
int32_t __cdecl RecordChangeUserNum(int32_t userNumber) {
  gChangeUserNumCalls.fetch_add(1);
  gLastUserNumber.store(userNumber);
  return 0;
}

TEST_F(StatusWindowTest, ApplyHandsOnlyAChangedUserNumberToTheModule) {
  store_.CreateEmpty();
  store_.SetDword("Number", 5);
  StartWindow();
  // Stored numbers above 3 start as 1 and stay in the store.
  EXPECT_EQ(SelectedText(Window(), IDC_USER_NUMBER), "1");
  EXPECT_EQ(store_.GetOr("Number", 0), 5u);
  Loader().table.ChangeUserNum.store(&RecordChangeUserNum);
  gChangeUserNumCalls.store(0);

  SelectUserNumber(0);
  EXPECT_TRUE(ApplyEnabled());
  Click(IDC_APPLY);
  EXPECT_EQ(store_.GetOr("Number", 0), 5u);
  EXPECT_EQ(gChangeUserNumCalls.load(), 0);

  SelectUserNumber(6);
  Click(IDC_APPLY);
  EXPECT_EQ(store_.GetOr("Number", 0), 7u);
  EXPECT_EQ(gChangeUserNumCalls.load(), 1);
  EXPECT_EQ(gLastUserNumber.load(), 7);

  store_.Delete("Number");
  Click(IDC_APPLY);
  uint32_t number;
  EXPECT_FALSE(store_.Get("Number", &number));
  EXPECT_EQ(gChangeUserNumCalls.load(), 1);
}

TEST_F(StatusWindowTest, EnterInThePortFieldApplies) {
  store_.CreateEmpty();
  StartWindow();
  SetPortText("7100");
  HWND port = GetDlgItem(Window(), IDC_PORT);
  PostMessageW(port, WM_KEYDOWN, VK_RETURN, 0);
  Sync();
  EXPECT_EQ(store_.GetOr("port", 0), 7100u);
}

}  // namespace
}  // namespace ui_testing
