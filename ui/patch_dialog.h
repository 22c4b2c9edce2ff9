#pragma once

#include <cstdint>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/patch_table.h"
#include "ui/status_window_owner.h"

// The Patch dialog: for each of the 64 rows a DP# list ("1" to "9") and a
// Universe list ("Disabled", "1" to "16"). OK stores the rows in the patch
// table and re-resolves their ports; Cancel leaves the table alone. The
// table holds only what the lists can show: the settings store gives any
// other stored value its default.
class OrbPatchDialog : public Ui::Dialog {
 public:
  // Takes the rows from the patch table; owner re-resolves the ports on OK.
  OrbPatchDialog(HWND parent, Ui::StatusWindowOwner& owner);

  // The DP# and Universe list ids of row r (0-based).
  static int DpListId(int row);
  static int UniverseListId(int row) { return DpListId(row) + 1; }

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int notification) override;

 private:
  void OnOK();

  Ui::StatusWindowOwner& owner_;
  Ui::ComboBox dpLists_[kPatchRowCount];
  Ui::ComboBox universeLists_[kPatchRowCount];
  // List indexes: dpChoice k is DP# k + 1; universeChoice 0 is "Disabled",
  // k is universe k.
  int32_t dpChoice_[kPatchRowCount];
  int32_t universeChoice_[kPatchRowCount];
};
