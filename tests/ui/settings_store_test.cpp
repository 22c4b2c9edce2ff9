// The settings store as the status window uses it: what a start reads and
// writes back, and how missing, wrong-sized and odd values are taken.
#include <gtest/gtest.h>

#include <string>

#include "loader/loader_state.h"
#include "tests/ui/ui_test_support.h"
#include "ui/config_dialog.h"
#include "ui/patch_table.h"
#include "ui/resource.h"

using namespace Ixa;

namespace ui_testing {
namespace {

std::string Name(const char* prefix, int row) { return std::string(prefix) + "_" + std::to_string(row); }

// A patch unlike the default in every row.
std::vector<SettingsKey::Row> OddPatch() {
  std::vector<SettingsKey::Row> rows;
  for (uint32_t r = 0; r < kPatchRowCount; ++r) rows.push_back({8 - r % 9, r % 2, 15 - r % 16});
  return rows;
}

void ExpectDefaultRow(int r) {
  const PatchRow& row = PatchTable()[r];
  EXPECT_EQ(row.enabled.load(), 1) << r;
  EXPECT_EQ(row.dpIndex.load(), r / 16) << r;
  EXPECT_EQ(row.universe.load(), r % 16) << r;
}

void ExpectStoredDefaultRow(const SettingsKey& store, int r) {
  EXPECT_EQ(store.GetOr(Name("DP", r).c_str(), 99), static_cast<uint32_t>(r / 16)) << r;
  EXPECT_EQ(store.GetOr(Name("UniverseEnabled", r).c_str(), 99), 1u) << r;
  EXPECT_EQ(store.GetOr(Name("Patch", r).c_str(), 99), static_cast<uint32_t>(r % 16)) << r;
}

TEST_F(StatusWindowTest, EmptyKeyReceivesThePortAndTheDefaultPatchButNoUserNumber) {
  store_.CreateEmpty();
  StartWindow();
  EXPECT_EQ(store_.CountValues(), 193);
  EXPECT_EQ(store_.GetOr("port", 0), 6600u);
  uint32_t number;
  EXPECT_FALSE(store_.Get("Number", &number));
  for (int r = 0; r < kPatchRowCount; ++r) ExpectStoredDefaultRow(store_, r);
}

// A window's owner that is asked nothing here.
struct NoOwner : Ui::StatusWindowOwner {
  void RestartDetection() override {}
  void ChangeUserNumber(int32_t) override {}
  void ReresolvePatchPorts() override {}
  void WindowShown() override {}
  void WindowClosedByUser() override {}
} gNoOwner;

// The port as the window's thread reads it before its run.
uint32_t PreparedPort() {
  CIxaConfigDialog dialog(gNoOwner);
  dialog.PrepareRun();
  dialog.EndRun();
  return dialog.Port();
}

TEST(SettingsStore, MissingPortIsStoredBeforeTheWindowIsMadeAndConstructionReadsNothing) {
  SettingsKey store;
  store.CreateEmpty();
  CIxaConfigDialog dialog(gNoOwner);
  EXPECT_EQ(store.CountValues(), 0);
  dialog.PrepareRun();
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
  EXPECT_EQ(dialog.Port(), 6600u);
  EXPECT_EQ(store.GetOr("port", 0), 6600u);
  EXPECT_EQ(store.CountValues(), 1);
  dialog.EndRun();
}

TEST(SettingsStore, StoredPortIsTakenAndAWrongSizedOneCountsAsMissing) {
  SettingsKey store;
  store.CreateEmpty();
  store.SetDword("port", 7123);
  EXPECT_EQ(PreparedPort(), 7123u);

  store.SetBinary("port", {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(PreparedPort(), 6600u);
  EXPECT_EQ(store.GetOr("port", 0), 6600u);

  store.SetBinary("port", {0x10, 0x20});
  EXPECT_EQ(PreparedPort(), 6600u);
  EXPECT_EQ(store.GetOr("port", 0), 6600u);

  // No port at all: outside 1 to 65535, or four bytes of another type.
  for (uint32_t noPort : {0u, 65536u, 70000u}) {
    store.SetDword("port", noPort);
    EXPECT_EQ(PreparedPort(), 6600u) << noPort;
  }
  store.SetDword("port", 65535);
  EXPECT_EQ(PreparedPort(), 65535u);
  store.SetBinary("port", {'7', '1', '2', 0}, REG_SZ);
  EXPECT_EQ(PreparedPort(), 6600u);
  store.SetBinary("port", {0xD3, 0x1B, 0, 0});
  EXPECT_EQ(PreparedPort(), 6600u);
}

// A value outside what the Patch dialog shows takes that value's default
// alone; the rows after it are read, and the table is written back.
TEST_F(StatusWindowTest, OutOfRangePatchValuesTakeTheirDefaultAndReadingGoesOn) {
  store_.CreateEmpty();
  store_.SetPatch(OddPatch());
  store_.SetDword("DP_10", 9);
  store_.SetDword("Patch_20", 16);
  store_.SetBinary("DP_30", {1, 0, 0, 0});
  StartWindow();
  const std::vector<SettingsKey::Row> odd = OddPatch();
  EXPECT_EQ(PatchTable()[10].dpIndex.load(), 0);
  EXPECT_EQ(PatchTable()[10].universe.load(), static_cast<int32_t>(odd[10].universe));
  EXPECT_EQ(PatchTable()[20].universe.load(), 4);
  EXPECT_EQ(PatchTable()[30].dpIndex.load(), 1);
  EXPECT_EQ(PatchTable()[63].dpIndex.load(), static_cast<int32_t>(odd[63].dpIndex));
  EXPECT_EQ(store_.GetOr("DP_10", 99), 0u);
  EXPECT_EQ(store_.GetOr("Patch_20", 99), 4u);
}

// An administrator may make the key read-only: the settings are still read.
TEST_F(StatusWindowTest, AKeyTheLoaderMayOnlyReadIsStillRead) {
  store_.CreateEmpty();
  store_.SetDword("port", 6700);
  store_.SetDword("Number", 2);
  store_.SetPatch(OddPatch());
  store_.MakeReadOnly();
  StartWindow();
  EXPECT_EQ(Text(IDC_PORT), "6700");
  EXPECT_EQ(SelectedText(Window(), IDC_USER_NUMBER), "2");
  EXPECT_EQ(PatchTable()[63].dpIndex.load(), static_cast<int32_t>(OddPatch()[63].dpIndex));
}

TEST_F(StatusWindowTest, MissingMiddleValueKeepsWhatWasReadAndWritesTheTableBack) {
  store_.CreateEmpty();
  store_.SetPatch(OddPatch());
  store_.Delete("UniverseEnabled_10");
  StartWindow();
  std::vector<SettingsKey::Row> odd = OddPatch();
  for (int r = 0; r < 10; ++r) {
    const PatchRow& row = PatchTable()[r];
    EXPECT_EQ(row.dpIndex.load(), static_cast<int32_t>(odd[r].dpIndex)) << r;
    EXPECT_EQ(row.enabled.load(), odd[r].enabled) << r;
    EXPECT_EQ(row.universe.load(), static_cast<int32_t>(odd[r].universe)) << r;
  }
  EXPECT_EQ(PatchTable()[10].dpIndex.load(), static_cast<int32_t>(odd[10].dpIndex));
  EXPECT_EQ(PatchTable()[10].enabled.load(), 1);
  EXPECT_EQ(PatchTable()[10].universe.load(), 10);
  for (int r = 11; r < kPatchRowCount; ++r) ExpectDefaultRow(r);

  // Written back as the table now stands.
  EXPECT_EQ(store_.GetOr("DP_9", 99), odd[9].dpIndex);
  EXPECT_EQ(store_.GetOr("DP_10", 99), odd[10].dpIndex);
  EXPECT_EQ(store_.GetOr("UniverseEnabled_10", 99), 1u);
  EXPECT_EQ(store_.GetOr("Patch_10", 99), 10u);
  for (int r = 11; r < kPatchRowCount; ++r) ExpectStoredDefaultRow(store_, r);
}

TEST_F(StatusWindowTest, CompleteStoreIsReadWithoutWritingBack) {
  store_.CreateEmpty();
  store_.SetDword("port", 6700);
  store_.SetDword("Number", 3);
  store_.SetPatch(OddPatch());
  store_.SetDword("UniverseEnabled_5", 7);
  StartWindow();
  EXPECT_EQ(Text(IDC_PORT), "6700");
  EXPECT_EQ(SelectedText(Window(), IDC_USER_NUMBER), "3");
  EXPECT_EQ(PatchTable()[5].enabled.load(), 1);
  EXPECT_EQ(PatchTable()[63].dpIndex.load(), static_cast<int32_t>(OddPatch()[63].dpIndex));
  EXPECT_EQ(store_.GetOr("UniverseEnabled_5", 0), 7u) << "a complete read writes nothing";

  // The next table write stores the flag as 1.
  Click(IDC_APPLY);
  EXPECT_EQ(store_.GetOr("UniverseEnabled_5", 0), 1u);
}

TEST_F(StatusWindowTest, MissingKeyRunsOnDefaultsAndWritesNothing) {
  ASSERT_FALSE(store_.Exists());
  StartWindow();
  EXPECT_EQ(Loader().statusWindow->Port(), 6600u);
  EXPECT_EQ(SelectedText(Window(), IDC_USER_NUMBER), "1");
  for (int r = 0; r < kPatchRowCount; ++r) ExpectDefaultRow(r);

  // Changes take effect in memory only.
  SetPortText("65535");
  SelectUserNumber(1);
  Click(IDC_APPLY);
  EXPECT_EQ(Loader().statusWindow->Port(), 65535u);
  EXPECT_FALSE(store_.Exists());
}

}  // namespace
}  // namespace ui_testing
