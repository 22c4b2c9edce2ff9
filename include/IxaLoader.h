/* IxaLoader: the host's interface to the console bridge.
 *
 * Every export uses the C calling convention (the caller removes the
 * arguments) and carries its plain, undecorated name. Boolean results are one
 * byte. Hosts may link the import library or look the names up with
 * GetProcAddress; the IXA_PFN_ types serve the latter.
 *
 * Threads: every export may be called from any thread, in any order, and
 * nothing is ever thrown into the host. StartDetect, StartDetectExt and
 * ShutdownOB take turns with each other and with the status window's Apply
 * and Reconnect. GetDMXBuffer and the fixture commands take no lock and may
 * run on many threads at once, also while ShutdownOB runs.
 *
 * Inside the running callback every export may be called, ShutdownOB and
 * StartDetect included: such a call does all it can without waiting for the
 * thread it runs on, returns promptly, and leaves the same end state as a
 * call from anywhere else (ShutdownOB still calls the callback with 0 first,
 * nested). A callback that blocks on another host thread which is itself
 * inside ShutdownOB or StartDetect waits for ever: don't.
 *
 * A pointer from GetDMXBuffer may be used at most until the running callback
 * is called with 0: ShutdownOB then keeps reads out of the module, waits for
 * those inside, and lets the module free its buffers.
 *
 * Results report no failure (see each declaration), diagnostics go to the
 * debugger output and the log file %LOCALAPPDATA%\IxaLoader\IxaLoader.log,
 * and a failed internal check ends the process. docs/INTEGRATION.md says
 * what else a host must plan for. Windows 7 or later, 32-bit. */
#ifndef IXALOADER_H
#define IXALOADER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(IXALOADER_BUILD)
#define IXA_API
#else
#define IXA_API __declspec(dllimport)
#endif
#define IXA_CALL __cdecl

typedef unsigned char IxaBool;

/* Called with 1 once the console's processor is running and the patch is
 * resolved (on the library's worker thread), and with 0 at the start of
 * every ShutdownOB, on the thread that runs it: the host's, or the status
 * window's thread when the user presses Reconnect or applies a new port. */
typedef void(IXA_CALL *IxaRunningCallback)(int32_t running);

/* Start a detection on the library's worker thread and return 1 at once,
 * always: success arrives as the running callback with 1, failure calls no
 * callback. launchOption is handed to the console's module. */
IXA_API int32_t IXA_CALL StartDetect(void);
IXA_API int32_t IXA_CALL StartDetectExt(int32_t launchOption);
/* Calls the running callback with 0 first. A module call that does not come
 * back is waited for up to 5 s; after that ShutdownOB returns and leaves the
 * module loaded.
 *
 * Call ShutdownOB(1) before FreeLibrary: it ends every thread of the library
 * (except the calling one, inside the running callback), so the FreeLibrary
 * that follows unmaps it. A FreeLibrary without it only drops the host's own
 * reference, and the library keeps running until ShutdownOB(1) or process
 * exit. docs/INTEGRATION.md has the details. */
IXA_API void IXA_CALL ShutdownOB(IxaBool closeWindow);
IXA_API void IXA_CALL SetRunningCallback(IxaRunningCallback callback);

/* Points *buffer at the 512 DMX bytes of patch row `row` (0 to 63), or at 512
 * zero bytes when the row has no data; true only for the former. The zero
 * bytes are read-only: writing into them faults. */
IXA_API IxaBool IXA_CALL GetDMXBuffer(uint16_t row, unsigned char **buffer);

/* The command exports always return true, even when nothing was sent (with
 * no module running, for instance). */
IXA_API IxaBool IXA_CALL ClearProgrammer(void);
IXA_API IxaBool IXA_CALL SelectNone(void);
IXA_API IxaBool IXA_CALL SelectFixture(uint32_t fixture);
IXA_API IxaBool IXA_CALL DeselectFixture(uint32_t fixture);
IXA_API IxaBool IXA_CALL KnockoutFixture(uint32_t fixture);
IXA_API IxaBool IXA_CALL SetFixturePanTilt(uint32_t fixture, uint32_t pan, uint32_t tilt);
IXA_API IxaBool IXA_CALL SetFixtureIntensity(uint32_t fixture, uint8_t intensity);

typedef int32_t(IXA_CALL *IXA_PFN_StartDetect)(void);
typedef int32_t(IXA_CALL *IXA_PFN_StartDetectExt)(int32_t);
typedef void(IXA_CALL *IXA_PFN_ShutdownOB)(IxaBool);
typedef void(IXA_CALL *IXA_PFN_SetRunningCallback)(IxaRunningCallback);
typedef IxaBool(IXA_CALL *IXA_PFN_GetDMXBuffer)(uint16_t, unsigned char **);
typedef IxaBool(IXA_CALL *IXA_PFN_ClearProgrammer)(void);
typedef IxaBool(IXA_CALL *IXA_PFN_SelectNone)(void);
typedef IxaBool(IXA_CALL *IXA_PFN_SelectFixture)(uint32_t);
typedef IxaBool(IXA_CALL *IXA_PFN_DeselectFixture)(uint32_t);
typedef IxaBool(IXA_CALL *IXA_PFN_KnockoutFixture)(uint32_t);
typedef IxaBool(IXA_CALL *IXA_PFN_SetFixturePanTilt)(uint32_t, uint32_t, uint32_t);
typedef IxaBool(IXA_CALL *IXA_PFN_SetFixtureIntensity)(uint32_t, uint8_t);

#ifdef __cplusplus
}
#endif

#endif /* IXALOADER_H */
