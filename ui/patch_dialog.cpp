#include "ui/patch_dialog.h"

#include "ui/resource.h"

namespace {

// Rows are numbered in runs of consecutive DP# list ids, two ids per row.
struct IdRun {
  int firstRow;
  int firstId;
};
constexpr IdRun kIdRuns[] = {{0, 1017},  {4, 1051},  {16, 1091}, {24, 1123},
                             {32, 1025}, {36, 1075}, {44, 1107}, {52, 1139}};

}  // namespace

int OrbPatchDialog::DpListId(int row) {
  const IdRun* run = &kIdRuns[0];
  for (const IdRun& candidate : kIdRuns) {
    if (candidate.firstRow <= row) run = &candidate;
  }
  return run->firstId + 2 * (row - run->firstRow);
}

OrbPatchDialog::OrbPatchDialog(HWND parent, Ui::StatusWindowOwner& owner)
    : Ui::Dialog(IDD_PATCH, parent), owner_(owner) {
  const PatchRow* table = PatchTable();
  for (int r = 0; r < kPatchRowCount; ++r) {
    universeChoice_[r] = table[r].enabled.load() == 1 ? table[r].universe.load() + 1 : 0;
    dpChoice_[r] = table[r].dpIndex.load();
  }
}

BOOL OrbPatchDialog::OnInitDialog() {
  HWND dialog = GetSafeHwnd();
  for (int r = 0; r < kPatchRowCount; ++r) {
    dpLists_[r].Bind(dialog, DpListId(r));
    universeLists_[r].Bind(dialog, UniverseListId(r));
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
    row.enabled.store(universeChoice_[r] == 0 ? 0 : 1);
    row.universe.store(universeChoice_[r] == 0 ? 0 : universeChoice_[r] - 1);
    row.dpIndex.store(dpChoice_[r]);
  }
  owner_.ReresolvePatchPorts();
  EndDialog(IDOK);
}
