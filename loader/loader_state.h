#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "loader/library_thread.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "os/oslock.h"
#include "os/win32/handle.h"
#include "os/win32/unique_library.h"
#include "os/win32/unique_socket.h"

class CIxaConfigDialog;

namespace Ixa {

typedef void(__cdecl* RunningCallbackFn)(int32_t running);

// The events, each auto-reset and created unsignalled at load in this order.
enum LoaderEvent { kDllLoaded, kShuttingDown, kDialogDisplayed, kDialogClosed, kEventCount };
extern const char* const kLoaderEventNames[kEventCount];

// The one process-wide record of the loader core. Fields that several
// threads touch are single atomic values; the control paths (start,
// shutdown, restart) take turns (detection.cpp), and the order of their
// steps keeps the other threads apart.
struct LoaderState {
  // Kept until unload, even once closed: a handler of the window may still
  // read it on its way out.
  std::unique_ptr<CIxaConfigDialog> statusWindow;
  std::atomic<bool> windowClosed{false};
  // Set as ShutdownOB(1) begins: no thread is started after that.
  std::atomic<bool> closing{false};
  std::unique_ptr<LibraryThread> statusWindowThread;
  // Set once the status window exists with its settings read, or its run is
  // over: reports made earlier would be dropped, the module's loaded report
  // among them.
  Os::UniqueHandle windowStarted{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::unique_ptr<LibraryThread> worker;
  // Workers that stopped detection from inside their own running callback;
  // they end on their own and are joined later.
  std::vector<std::unique_ptr<LibraryThread>> stoppedWorkers;
  std::atomic<bool> detecting{false};
  // Set whenever the detection flag is cleared, so the worker's waits end at once.
  Os::UniqueHandle stopDetection{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  // This library's own loaded report: the named event is seen, and may be
  // set or taken, by every loader on the desktop.
  Os::UniqueHandle moduleLoaded{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::atomic<int32_t> launchOption{0};
  std::atomic<HMODULE> module{nullptr};
  // This library, held while the module is loaded: its threads report into
  // ReportStatus whenever they like.
  Os::UniqueLibrary heldForModule;
  Os::UniqueSocketsStartup socketsForModule;
  std::string savedImagePath;
  // The saved file's folder, held open while the file is in use, and the
  // number of the next folder of this process to make.
  Os::UniqueHandle imageFolder;
  std::string imageFolderPath;
  unsigned imageSerial = 0;
  ProcessorTable table;
  Os::CriticalSection nodesLock;  // the worker replaces the table while the window re-resolves
  std::vector<NodeEntry> nodes;
  std::atomic<RunningCallbackFn> runningCallback{nullptr};
  Os::UniqueHandle events[kEventCount];
};

// Created on first use (library load, or a test).
LoaderState& Loader();
// Unload only, once no thread of the loader is left to touch the state.
void DestroyLoaderState();

// Signals or resets one of the loader's named events.
void SetLoaderEvent(LoaderEvent event);
void ResetLoaderEvent(LoaderEvent event);

}  // namespace Ixa
