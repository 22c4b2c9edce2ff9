// The two dialog templates as the running windows show them: every control
// with its id, class, style, text and place (in dialog units), in tab order,
// the lists' items, the fonts and the icons.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/resource.h"
#include "ui/ui_module.h"

namespace ui_testing {
namespace {

struct ExpectedControl {
  int id;
  const char* className;
  DWORD typeMask;
  DWORD type;
  DWORD requiredStyle;
  std::string text;
  int x, y, w, h;  // dialog units; h < 0: not checked (lists: the height is the dropped height)
  bool bordered = false;
};

constexpr DWORD kButtonType = BS_TYPEMASK;
constexpr DWORD kStaticType = SS_TYPEMASK;
// A combo box hands WS_VSCROLL on to its drop-down list, which shows the
// scroll bar only when its items need it, so that bit is not checked here.
constexpr DWORD kComboType = 3;

void ExpectControls(HWND dialog, const std::vector<ExpectedControl>& expected) {
  HWND child = GetWindow(dialog, GW_CHILD);
  for (size_t i = 0; i < expected.size(); ++i) {
    const ExpectedControl& want = expected[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id) + " \"" + want.text + "\"");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), want.id);
    char className[64] = {};
    GetClassNameA(child, className, sizeof(className));
    EXPECT_STREQ(className, want.className);
    DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    EXPECT_EQ(style & want.typeMask, want.type);
    EXPECT_EQ(style & want.requiredStyle, want.requiredStyle);
    if (want.bordered) {
      // The dialog manager may turn an edit's border into a sunken edge.
      DWORD exStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
      EXPECT_TRUE((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE));
    }
    EXPECT_TRUE(style & WS_VISIBLE);
    if (std::string(className) != "ComboBox") {
      char text[64] = {};
      GetWindowTextA(child, text, sizeof(text));
      EXPECT_EQ(text, want.text);
    }
    // Position and size are converted separately, as the dialog manager does.
    RECT place{want.x, want.y, want.w, want.h < 0 ? 0 : want.h};
    MapDialogRect(dialog, &place);
    RECT expectedRect{place.left, place.top, place.left + place.right, place.top + place.bottom};
    RECT actual;
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expectedRect.left);
    EXPECT_EQ(actual.top, expectedRect.top);
    EXPECT_EQ(actual.right, expectedRect.right);
    if (want.h >= 0) {
      EXPECT_EQ(actual.bottom, expectedRect.bottom);
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "more controls than the template lists";
}

void ExpectDialogFrame(HWND dialog, const char* caption, int width, int height) {
  DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  char text[64] = {};
  GetWindowTextA(dialog, text, sizeof(text));
  EXPECT_STREQ(text, caption);
  RECT size{0, 0, width, height};
  MapDialogRect(dialog, &size);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
}

std::vector<std::string> Numbers(int first, int last) {
  std::vector<std::string> items;
  for (int k = first; k <= last; ++k) items.push_back(std::to_string(k));
  return items;
}

TEST_F(StatusWindowTest, LaysOutItsControlsAndStartsWithApplyDisabled) {
  StartWindow();
  HWND w = Window();
  ExpectDialogFrame(w, "Vexa Visualiser", 232, 142);
  const DWORD tab = WS_TABSTOP;
  ExpectControls(w, {
                        {1008, "Button", kButtonType, BS_PUSHBUTTON, tab, "Close", 175, 27, 50, 14},
                        {-1, "Button", kButtonType, BS_GROUPBOX, 0, "Configuration", 7, 64, 166, 56},
                        {1001, "Edit", 0, 0, ES_AUTOHSCROLL | tab, "6600", 71, 79, 59, 14, true},
                        {1003, "Button", kButtonType, BS_DEFPUSHBUTTON, tab, "Apply", 175, 10, 50, 14},
                        {-1, "Static", kStaticType, SS_LEFT, 0, "Port", 53, 82, 14, 8},
                        {-1, "Static", kStaticType, SS_LEFT, 0, "User Number", 27, 98, 42, 8},
                        {-1, "Button", kButtonType, BS_GROUPBOX, 0, "Status", 7, 7, 166, 55},
                        {-1, "Static", kStaticType, SS_LEFT, 0, "Status:", 18, 19, 23, 8},
                        {-1, "Static", kStaticType, SS_LEFT, 0, "Session:", 13, 33, 28, 8},
                        {-1, "Static", kStaticType, SS_LEFT, 0, "Info:", 26, 47, 15, 8},
                        {1005, "Static", kStaticType, SS_LEFT, 0, "", 45, 19, 126, 8},
                        {1006, "Static", kStaticType, SS_LEFT, 0, "", 45, 33, 126, 8},
                        {1007, "Static", kStaticType, SS_LEFT, 0, "", 45, 47, 126, 8},
                        {1012, "Static", kStaticType, SS_LEFT, 0, "v3.10", 7, 127, 116, 8},
                        {1076, "ComboBox", kComboType, CBS_DROPDOWN, tab, "", 70, 97, 30, -1},
                        {1070, "Button", kButtonType, BS_PUSHBUTTON, tab, "Patch", 175, 45, 50, 14},
                        {1072, "Button", kButtonType, BS_PUSHBUTTON, tab, "Reconnect", 175, 62, 50, 14},
                    });
  EXPECT_EQ(ListItems(w, IDC_USER_NUMBER), Numbers(1, 9));
  EXPECT_EQ(SelectedText(w, IDC_USER_NUMBER), "1");
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_EQ(LOWORD(SendMessageW(w, DM_GETDEFID, 0, 0)), IDC_APPLY);
  EXPECT_NE(SendMessageW(w, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST(Icons, TheFourTrayIconsLoadAt16By16) {
  for (int id : {IDI_TRAY_PRODUCT, IDI_TRAY_WARNING, IDI_TRAY_EMBLEM, IDI_TRAY_EMBLEM_ALT}) {
    HICON icon = static_cast<HICON>(LoadImageW(Ui::ModuleInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(icon, nullptr) << id;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 16);
    EXPECT_EQ(bitmap.bmHeight, 16);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

// Group boxes of the Patch dialog as the template places them, each with the
// DP# list id of its first row.
struct PatchBox {
  int firstRow, x, y, w, h, firstId;
};
const PatchBox kPatchBoxes[] = {
    {1, 7, 7, 110, 78, 1017},      {5, 7, 87, 110, 81, 1051},     {9, 122, 7, 113, 78, 1059},
    {13, 122, 86, 114, 82, 1067},  {17, 240, 7, 113, 78, 1091},   {21, 241, 86, 114, 82, 1099},
    {25, 356, 7, 113, 78, 1123},   {29, 358, 86, 114, 82, 1131},  {33, 7, 171, 110, 78, 1025},
    {37, 7, 251, 110, 81, 1075},   {41, 121, 171, 113, 78, 1083}, {45, 121, 251, 114, 82, 1107},
    {49, 239, 171, 113, 78, 1115}, {53, 241, 251, 114, 82, 1139}, {57, 355, 171, 113, 78, 1147},
    {61, 357, 251, 114, 82, 1155},
};

TEST_F(StatusWindowTest, PatchDialogLaysOutSixtyFourRowsOfListsInSixteenBoxes) {
  StartWindow();
  ClickLater(IDC_PATCH);
  HWND patch = WaitForPatchDialog();
  ASSERT_NE(patch, nullptr);
  ExpectDialogFrame(patch, "Patch", 534, 340);
  EXPECT_EQ(GetParent(patch) != nullptr ? GetParent(patch) : GetWindow(patch, GW_OWNER), Window());

  const DWORD list = WS_TABSTOP;
  std::vector<ExpectedControl> controls = {
      {IDOK, "Button", kButtonType, BS_DEFPUSHBUTTON, WS_TABSTOP, "OK", 476, 7, 50, 14},
      {IDCANCEL, "Button", kButtonType, BS_PUSHBUTTON, WS_TABSTOP, "Cancel", 476, 24, 50, 14},
  };
  std::vector<int> dpIds, universeIds;
  for (const PatchBox& box : kPatchBoxes) {
    controls.push_back({-1, "Button", kButtonType, BS_GROUPBOX, 0, "", box.x, box.y, box.w, box.h});
    controls.push_back({-1, "Static", kStaticType, SS_LEFT, 0, "DP#", box.x + 21, box.y + 4, 16, 8});
    controls.push_back({-1, "Static", kStaticType, SS_LEFT, 0, "Universe", box.x + 59, box.y + 4, 29, 8});
    for (int i = 0; i < 4; ++i) {
      int row = box.firstRow + i;
      int dpId = box.firstId + 2 * i;
      int listY = box.y + 14 + 16 * i;
      controls.push_back({-1, "Static", kStaticType, SS_LEFT, 0, "#" + std::to_string(row), box.x + 2, listY + 2,
                          row < 10 ? 10 : 14, 8});
      controls.push_back({dpId, "ComboBox", kComboType, CBS_DROPDOWNLIST, list, "", box.x + 19, listY, 29, -1});
      controls.push_back({dpId + 1, "ComboBox", kComboType, CBS_DROPDOWNLIST, list, "", box.x + 58, listY, 46, -1});
      dpIds.push_back(dpId);
      universeIds.push_back(dpId + 1);
    }
  }
  ExpectControls(patch, controls);

  std::vector<std::string> universes = Numbers(1, 16);
  universes.insert(universes.begin(), "Disabled");
  for (size_t row = 0; row < dpIds.size(); ++row) {
    EXPECT_EQ(ListItems(patch, dpIds[row]), Numbers(1, 9)) << "row " << row + 1;
    EXPECT_EQ(ListItems(patch, universeIds[row]), universes) << "row " << row + 1;
  }
  SendMessageW(patch, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace
}  // namespace ui_testing
