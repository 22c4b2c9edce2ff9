/* A host built against the release package alone: links every export
 * through an import library, reads a universe before any detection and
 * shuts down. */
#include <stdio.h>

#include "IxaLoader.h"

static void IXA_CALL OnRunning(int32_t running) { (void)running; }

int main(void) {
  /* Each export referenced once, so the link needs all twelve. */
  const IXA_PFN_StartDetect startDetect = StartDetect;
  const IXA_PFN_StartDetectExt startDetectExt = StartDetectExt;
  const IXA_PFN_DeselectFixture deselectFixture = DeselectFixture;
  const IXA_PFN_KnockoutFixture knockoutFixture = KnockoutFixture;
  unsigned char *data = NULL;

  SetRunningCallback(OnRunning);
  if (GetDMXBuffer(0, &data) || data == NULL || data[0] != 0 || data[511] != 0) {
    puts("package host: expected the blank universe before detection");
    return 1;
  }
  if (!ClearProgrammer() || !SelectNone() || !SelectFixture(1) || !SetFixturePanTilt(1, 2, 3) ||
      !SetFixtureIntensity(1, 255)) {
    puts("package host: a command export returned false");
    return 1;
  }
  ShutdownOB(1);
  printf("package host: linked, called, shut down (%d)\n",
         startDetect != NULL && startDetectExt != NULL && deselectFixture != NULL && knockoutFixture != NULL);
  return 0;
}
