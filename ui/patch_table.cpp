#include "ui/patch_table.h"

void SetDefaultPatch() {
  for (int r = 0; r < kPatchRowCount; ++r) {
    PatchRow& row = gPatchTable[r];
    row.enabled.store(1);
    row.dpIndex.store(DefaultDpIndex(r));
    row.universe.store(DefaultUniverse(r));
    row.portIndex.store(-1);
  }
}
