// The Patch dialog opened from the status window: what it shows, what OK and
// Cancel do to the patch table, and what reaches the store afterwards.
#include <gtest/gtest.h>

#include "loader/detection.h"
#include "tests/support/test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/patch_dialog.h"
#include "ui/patch_table.h"
#include "ui/resource.h"

using namespace Ixa;

namespace ui_testing {
namespace {

constexpr int kDisabledItem = 0;

struct RowValues {
  int enabled, dpIndex, universe;
  bool operator==(const RowValues& other) const {
    return enabled == other.enabled && dpIndex == other.dpIndex && universe == other.universe;
  }
};

RowValues TableRow(int r) {
  const PatchRow& row = PatchTable()[r];
  return {row.enabled.load(), row.dpIndex.load(), row.universe.load()};
}

class PatchDialogTest : public StatusWindowTest {
 protected:
  HWND OpenPatch() {
    ClickLater(IDC_PATCH);
    HWND patch = WaitForPatchDialog();
    EXPECT_NE(patch, nullptr);
    return patch;
  }
  void Select(HWND patch, int listId, int item) {
    SendMessageW(GetDlgItem(patch, listId), CB_SETCURSEL, static_cast<WPARAM>(item), 0);
  }
  // OK or Cancel; the status window writes the table once the dialog is gone.
  void Press(HWND patch, int button) {
    SendMessageW(patch, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    WaitClosed(patch);
  }
  // The table is written right after the dialog's run, on the same thread.
  void WaitClosed(HWND patch) {
    EXPECT_TRUE(testing_support::WaitUntil([&] { return !IsWindow(patch); }, 10000));
    Sync();
  }
};

TEST_F(PatchDialogTest, ListIdsRunAsTheTemplateNumbersThem) {
  EXPECT_EQ(OrbPatchDialog::DpListId(0), 1017);
  EXPECT_EQ(OrbPatchDialog::DpListId(3), 1023);
  EXPECT_EQ(OrbPatchDialog::DpListId(4), 1051);
  EXPECT_EQ(OrbPatchDialog::DpListId(15), 1073);
  EXPECT_EQ(OrbPatchDialog::DpListId(16), 1091);
  EXPECT_EQ(OrbPatchDialog::DpListId(24), 1123);
  EXPECT_EQ(OrbPatchDialog::DpListId(32), 1025);
  EXPECT_EQ(OrbPatchDialog::DpListId(36), 1075);
  EXPECT_EQ(OrbPatchDialog::DpListId(44), 1107);
  EXPECT_EQ(OrbPatchDialog::DpListId(52), 1139);
  EXPECT_EQ(OrbPatchDialog::DpListId(63), 1161);
  EXPECT_EQ(OrbPatchDialog::UniverseListId(63), 1162);
}

TEST_F(PatchDialogTest, DefaultPatchShowsProcessorsOneToFour) {
  StartWindow();
  HWND patch = OpenPatch();
  EXPECT_EQ(SelectedText(patch, 1017), "1");
  EXPECT_EQ(SelectedText(patch, 1018), "1");
  EXPECT_EQ(SelectedText(patch, 1091), "2");
  EXPECT_EQ(SelectedText(patch, 1092), "1");
  EXPECT_EQ(SelectedText(patch, 1161), "4");
  EXPECT_EQ(SelectedText(patch, 1162), "16");
  for (int r = 0; r < kPatchRowCount; ++r) {
    EXPECT_EQ(SelectedText(patch, OrbPatchDialog::DpListId(r)), std::to_string(r / 16 + 1)) << r;
    EXPECT_EQ(SelectedText(patch, OrbPatchDialog::UniverseListId(r)), std::to_string(r % 16 + 1)) << r;
  }
  Press(patch, IDCANCEL);
}

TEST_F(PatchDialogTest, DisablingRow64AndBackStoresTheRow) {
  store_.CreateEmpty();
  StartWindow();
  HWND patch = OpenPatch();
  Select(patch, 1162, kDisabledItem);
  Press(patch, IDOK);
  EXPECT_EQ(TableRow(63), (RowValues{0, 3, 0}));
  EXPECT_EQ(store_.GetOr("UniverseEnabled_63", 9), 0u);
  EXPECT_EQ(store_.GetOr("Patch_63", 9), 0u);
  EXPECT_EQ(store_.GetOr("DP_63", 9), 3u);

  patch = OpenPatch();
  EXPECT_EQ(SelectedText(patch, 1162), "Disabled");
  Select(patch, 1162, 5);  // "5"
  Select(patch, 1017, 8);  // row #1 to DP# 9
  Press(patch, IDOK);
  EXPECT_EQ(TableRow(63), (RowValues{1, 3, 4}));
  EXPECT_EQ(TableRow(0), (RowValues{1, 8, 0}));
  EXPECT_EQ(store_.GetOr("UniverseEnabled_63", 9), 1u);
  EXPECT_EQ(store_.GetOr("Patch_63", 9), 4u);
  EXPECT_EQ(store_.GetOr("DP_0", 0), 8u);
}

TEST_F(PatchDialogTest, CancelLeavesTheTableAndTheStoreStillGetsIt) {
  store_.CreateEmpty();
  StartWindow();
  store_.CreateEmpty();  // drop what the start wrote
  HWND patch = OpenPatch();
  Select(patch, 1017, 4);
  Select(patch, 1018, kDisabledItem);
  Press(patch, IDCANCEL);
  EXPECT_EQ(TableRow(0), (RowValues{1, 0, 0}));
  EXPECT_EQ(store_.CountValues(), 192);
  EXPECT_EQ(store_.GetOr("DP_0", 9), 0u);
  EXPECT_EQ(store_.GetOr("UniverseEnabled_0", 9), 1u);

  // The caption's close box cancels as well.
  patch = OpenPatch();
  Select(patch, 1017, 4);
  PostMessageW(patch, WM_CLOSE, 0, 0);
  WaitClosed(patch);
  EXPECT_EQ(TableRow(0), (RowValues{1, 0, 0}));
}

TEST_F(PatchDialogTest, OkWithoutAProcessorLeavesEveryPortUnresolved) {
  StartWindow();
  HWND patch = OpenPatch();
  Select(patch, 1018, 3);
  Press(patch, IDOK);
  for (int r = 0; r < kPatchRowCount; ++r) EXPECT_EQ(PatchTable()[r].portIndex.load(), -1) << r;
}

DWORD WINAPI CloseEverything(void*) {
  ShutdownLoader(true);
  return 0;
}

TEST_F(PatchDialogTest, ClosingTheStatusWindowCancelsAnOpenPatchDialog) {
  store_.CreateEmpty();
  StartWindow();
  HWND patch = OpenPatch();
  Select(patch, 1018, kDisabledItem);
  store_.SetDword("DP_5", 7);
  // ShutdownOB(true) from a host thread; it must not wait for the user.
  HANDLE closer = CreateThread(nullptr, 0, &CloseEverything, nullptr, 0, nullptr);
  bool ended = WaitForSingleObject(closer, 10000) == WAIT_OBJECT_0;
  EXPECT_TRUE(ended) << "closing the status window waited on the Patch dialog";
  if (!ended) {
    PostMessageW(patch, WM_COMMAND, IDCANCEL, 0);
    WaitForSingleObject(closer, INFINITE);
  }
  CloseHandle(closer);
  EXPECT_FALSE(IsWindow(patch));
  EXPECT_EQ(TableRow(0), (RowValues{1, 0, 0}));
  EXPECT_EQ(store_.GetOr("DP_5", 99), 7u) << "the run's end wrote the table";
}

}  // namespace
}  // namespace ui_testing
