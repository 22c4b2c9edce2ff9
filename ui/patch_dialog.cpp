#include "ui/patch_dialog.h"

#include <string>

#include "loader/patch_nodes.h"
#include "ui/resource.h"

namespace {

constexpr int kDpItems = 9;         // "1" to "9"
constexpr int kUniverseItems = 17;  // "Disabled", "1" to "16"

// Rows are numbered in runs of consecutive DP# list ids, two ids per row.
struct IdRun {
  int firstRow;
  int firstId;
};
constexpr IdRun kIdRuns[] = {{0, 1017}, {4, 1051}, {16, 1091}, {24, 1123},
                             {32, 1025}, {36, 1075}, {44, 1107}, {52, 1139}};

bool InList(int32_t choice, int items) { return choice >= 0 && choice < items; }

// A stored value outside the list is shown as one more item, after the
// list's own, holding the stored number.
void AddOutOfRangeItem(Ui::ComboBox& list, int32_t storedValue) {
  list.AddString(std::to_string(static_cast<long long>(storedValue) + 1).c_str());
}

}  // namespace

int OrbPatchDialog::DpListId(int row) {
  const IdRun* run = &kIdRuns[0];
  for (const IdRun& candidate : kIdRuns) {
    if (candidate.firstRow <= row) run = &candidate;
  }
  return run->firstId + 2 * (row - run->firstRow);
}

OrbPatchDialog::OrbPatchDialog(HWND parent) : Ui::Dialog(IDD_PATCH, parent) {
  const PatchRow* table = PatchTable();
  for (int r = 0; r < kPatchRowCount; ++r) {
    storedDp_[r] = table[r].dpIndex.load();
    storedUniverse_[r] = table[r].universe.load();
    bool enabled = table[r].enabled.load() == 1;
    // Range first: the stored universe may be any 32-bit value.
    if (!enabled) {
      universeChoice_[r] = 0;
    } else if (InList(storedUniverse_[r], kUniverseItems - 1)) {
      universeChoice_[r] = storedUniverse_[r] + 1;
    } else {
      universeChoice_[r] = kUniverseItems;
    }
    dpChoice_[r] = InList(storedDp_[r], kDpItems) ? storedDp_[r] : kDpItems;
  }
}

BOOL OrbPatchDialog::OnInitDialog() {
  HWND dialog = GetSafeHwnd();
  for (int r = 0; r < kPatchRowCount; ++r) {
    dpLists_[r].Bind(dialog, DpListId(r));
    universeLists_[r].Bind(dialog, UniverseListId(r));
    if (dpChoice_[r] == kDpItems) AddOutOfRangeItem(dpLists_[r], storedDp_[r]);
    if (universeChoice_[r] == kUniverseItems) AddOutOfRangeItem(universeLists_[r], storedUniverse_[r]);
    dpLists_[r].SetCurSel(dpChoice_[r]);
    universeLists_[r].SetCurSel(universeChoice_[r]);
  }
  return TRUE;
}

void OrbPatchDialog::OnCommand(int id, int notification) {
  if (id == IDOK) {
    OnOK();
    return;
  }
  Ui::Dialog::OnCommand(id, notification);
}

void OrbPatchDialog::OnOK() {
  for (int r = 0; r < kPatchRowCount; ++r) {
    dpChoice_[r] = dpLists_[r].GetCurSel();
    universeChoice_[r] = universeLists_[r].GetCurSel();
  }
  PatchRow* table = PatchTable();
  for (int r = 0; r < kPatchRowCount; ++r) {
    PatchRow& row = table[r];
    // The extra item of an out-of-range value keeps the stored value.
    if (universeChoice_[r] == 0) {
      row.enabled.store(0);
      row.universe.store(0);
    } else if (InList(universeChoice_[r], kUniverseItems)) {
      row.enabled.store(1);
      row.universe.store(universeChoice_[r] - 1);
    } else {
      row.enabled.store(1);
      row.universe.store(storedUniverse_[r]);
    }
    row.dpIndex.store(InList(dpChoice_[r], kDpItems) ? dpChoice_[r] : storedDp_[r]);
  }
  ReresolvePatchPorts();
  EndDialog(IDOK);
}
