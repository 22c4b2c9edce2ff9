#include "tests/ui/ui_test_support.h"

#include <cstring>

#include <sddl.h>
#include <thread>

#include "loader/detection.h"
#include "loader/instance.h"
#include "loader/loader_state.h"
#include "loader/status_report.h"
#include "loader/status_window_host.h"
#include "os/osstacktrace.h"
#include "tests/support/test_support.h"
#include "ui/config_dialog.h"
#include "ui/resource.h"
#include "ui/status_inbox.h"

using namespace Ixa;

using testing_support::FindOwnWindow;
using testing_support::WaitUntil;

namespace ui_testing {

// ---- Settings key ----

namespace {

constexpr const char* kCompanyPath = "SOFTWARE\\Quennel Systems";
constexpr const char* kProductPath = "SOFTWARE\\Quennel Systems\\Corvane III Orb";

bool KeyExists(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

HKEY OpenProduct(REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductPath, 0, access, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

}  // namespace

SettingsKey::SettingsKey() {
  hadCompany_ = KeyExists(kCompanyPath);
  hadProduct_ = KeyExists(kProductPath);
  if (HKEY key = OpenProduct(KEY_READ)) {
    char name[256];
    BYTE data[1024];
    for (DWORD index = 0;; ++index) {
      DWORD nameSize = sizeof(name), dataSize = sizeof(data), type = 0;
      if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
      savedValues_[name] = Saved{type, std::vector<uint8_t>(data, data + dataSize)};
    }
    RegCloseKey(key);
  }
  Remove();
}

SettingsKey::~SettingsKey() {
  Remove();
  if (hadCompany_) {
    HKEY company;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCompanyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &company, nullptr);
    RegCloseKey(company);
  }
  if (hadProduct_) {
    CreateEmpty();
    HKEY key = OpenProduct(KEY_SET_VALUE);
    for (const auto& [name, saved] : savedValues_) {
      RegSetValueExA(key, name.c_str(), 0, saved.type, saved.data.data(), static_cast<DWORD>(saved.data.size()));
    }
    RegCloseKey(key);
  }
}

void SettingsKey::CreateEmpty() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductPath);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void SettingsKey::Remove() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductPath);
  if (!hadCompany_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCompanyPath);
}

bool SettingsKey::Exists() const { return KeyExists(kProductPath); }

void SettingsKey::SetDword(const char* name, uint32_t value) {
  DWORD data = value;
  HKEY key = OpenProduct(KEY_SET_VALUE);
  ASSERT_NE(key, nullptr);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&data), sizeof(data));
  RegCloseKey(key);
}

void SettingsKey::SetBinary(const char* name, const std::vector<uint8_t>& bytes, DWORD type) {
  HKEY key = OpenProduct(KEY_SET_VALUE);
  ASSERT_NE(key, nullptr);
  RegSetValueExA(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
}

void SettingsKey::MakeReadOnly() {
  // Everyone may read it, delete it and change this again; nobody may set
  // values.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KRSDWD;;;WD)", SDDL_REVISION_1, &descriptor,
                                                                   nullptr));
  HKEY key = OpenProduct(WRITE_DAC);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
  RegCloseKey(key);
  LocalFree(descriptor);
}

void SettingsKey::Delete(const char* name) {
  HKEY key = OpenProduct(KEY_SET_VALUE);
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

bool SettingsKey::Get(const char* name, uint32_t* value) const {
  HKEY key = OpenProduct(KEY_READ);
  if (key == nullptr) return false;
  DWORD data = 0, size = sizeof(data), type = 0;
  bool found = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
               type == REG_DWORD && size == 4;
  RegCloseKey(key);
  if (found) *value = data;
  return found;
}

uint32_t SettingsKey::GetOr(const char* name, uint32_t fallback) const {
  uint32_t value;
  return Get(name, &value) ? value : fallback;
}

int SettingsKey::CountValues() const {
  HKEY key = OpenProduct(KEY_READ);
  if (key == nullptr) return -1;
  DWORD count = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  return static_cast<int>(count);
}

void SettingsKey::SetPatch(const std::vector<Row>& rows) {
  for (size_t n = 0; n < rows.size(); ++n) {
    SetDword(("DP_" + std::to_string(n)).c_str(), rows[n].dpIndex);
    SetDword(("UniverseEnabled_" + std::to_string(n)).c_str(), rows[n].enabled);
    SetDword(("Patch_" + std::to_string(n)).c_str(), rows[n].universe);
  }
}

// ---- Stand-in notification area ----

namespace {

// The record Wine's shell hands its notification area, then the icon bits.
struct NotifyData {
  LONG hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  UINT uTimeout;
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  UINT width;
  UINT height;
  UINT planes;
  UINT bpp;
};

std::mutex gTrayLock;
std::vector<TrayCall> gTrayCalls;

LRESULT CALLBACK TrayProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(hwnd, message, wParam, lParam);
  const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (copy->cbData < sizeof(NotifyData)) return FALSE;
  const auto* data = static_cast<const NotifyData*>(copy->lpData);
  TrayCall call{static_cast<DWORD>(copy->dwData),
                reinterpret_cast<HWND>(static_cast<LONG_PTR>(data->hWnd)),
                data->uID,
                data->uFlags,
                data->uCallbackMessage,
                data->szTip,
                {}};
  const auto* bits = static_cast<const uint8_t*>(copy->lpData) + sizeof(NotifyData);
  call.iconBits.assign(bits, static_cast<const uint8_t*>(copy->lpData) + copy->cbData);
  std::lock_guard<std::mutex> hold(gTrayLock);
  gTrayCalls.push_back(call);
  return TRUE;
}

void RunTray(HANDLE ready) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &TrayProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Shell_TrayWnd";
  RegisterClassW(&windowClass);
  // Topmost, so that it is found before any notification area of the desktop.
  CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                  windowClass.hInstance, nullptr);
  SetEvent(ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

class UiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread(&RunTray, ready).detach();
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
};

const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

}  // namespace

std::vector<TrayCall> TrayCallsFor(HWND owner) {
  std::lock_guard<std::mutex> hold(gTrayLock);
  std::vector<TrayCall> calls;
  for (const TrayCall& call : gTrayCalls) {
    if (call.owner == owner) calls.push_back(call);
  }
  return calls;
}

void ClearTrayCalls() {
  std::lock_guard<std::mutex> hold(gTrayLock);
  gTrayCalls.clear();
}

// ---- Status window fixture ----

namespace {

// True while the thread waits in GetMessage: its innermost frame is in the
// system call's entry stub, which is shorter than 32 bytes.
bool WaitsForAMessage(DWORD threadId) {
  static const auto entry = reinterpret_cast<Os::StackAddress>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("win32u.dll"), "NtUserGetMessage")));
  Os::StackAddress innermost = 0;
  if (entry == 0 || Os::CaptureStack(threadId, &innermost, 1) != 1) return false;
  return innermost >= entry && innermost < entry + 32;
}

}  // namespace

void StatusWindowTest::TearDown() {
  Loader().table.ChangeUserNum.store(nullptr);
  if (Loader().statusWindow) ShutdownLoader(true);
  ExitInstance(false);
}

void StatusWindowTest::StartWindow() {
  // As the library does at load; each test's load begins afresh.
  ASSERT_TRUE(InitInstance());
  ResetEvent(Event(kDialogDisplayed));
  ASSERT_TRUE(WaitUntil([] { return Loader().statusWindow->GetSafeHwnd() != nullptr; }, 10000));
  window_ = Loader().statusWindow->GetSafeHwnd();
  // Set at the very end of the initialisation; put back for the tests that
  // look at it.
  ASSERT_EQ(WaitForSingleObject(Event(kDialogDisplayed), 10000), WAIT_OBJECT_0);
  SetEvent(Event(kDialogDisplayed));
  // The modal loop shows its dialog once more when its queue first runs
  // empty, and only then waits for messages; a window hidden before that
  // would be shown again.
  DWORD thread = GetWindowThreadProcessId(window_, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return WaitsForAMessage(thread); }, 10000));
}

HANDLE StatusWindowTest::Event(int loaderEvent) const { return Loader().events[loaderEvent].get(); }

std::string StatusWindowTest::Text(int id) const { return testing_support::ControlText(window_, id); }

std::string StatusWindowTest::Caption() const {
  char text[256] = {};
  GetWindowTextA(window_, text, sizeof(text));
  return text;
}

void StatusWindowTest::PostStatus(int code, const char* text) { ReportStatus(code, text); }

void StatusWindowTest::Sync() const {
  // Posted messages are handled in order: once this report (a code that
  // does nothing) is taken, everything posted before it has been handled.
  ReportStatus(4, "sync");
  EXPECT_TRUE(WaitUntil([] { return Ui::StatusInbox::Pending() == 0; }, 10000));
}

void StatusWindowTest::Click(int id) const {
  SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
}

void StatusWindowTest::ClickLater(int id) const {
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
}

void StatusWindowTest::SetPortText(const char* text) const { SetDlgItemTextA(window_, IDC_PORT, text); }

void StatusWindowTest::SelectUserNumber(int item) const {
  HWND list = GetDlgItem(window_, IDC_USER_NUMBER);
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
  SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_USER_NUMBER, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

bool StatusWindowTest::ApplyEnabled() const { return IsWindowEnabled(GetDlgItem(window_, IDC_APPLY)) != FALSE; }

HWND StatusWindowTest::WaitForPatchDialog() const {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = FindOwnWindow("Patch")) != nullptr && IsWindowVisible(dialog); }, 10000);
  return dialog;
}

std::string SelectedText(HWND dialog, int listId) {
  HWND list = GetDlgItem(dialog, listId);
  LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return "<none>";
  char text[64] = {};
  SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text));
  return text;
}

std::vector<std::string> ListItems(HWND dialog, int listId) {
  HWND list = GetDlgItem(dialog, listId);
  std::vector<std::string> items;
  LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[64] = {};
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

}  // namespace ui_testing
