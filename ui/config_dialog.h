#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <windows.h>

#include <shellapi.h>

#include "os/win32/unique_registry_key.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/icon.h"
#include "ui/numeric_edit.h"
#include "ui/patch_dialog.h"
#include "ui/status_window_owner.h"
#include "ui/window_messages.h"

constexpr uint32_t kDefaultPort = 6600;
// The ports the store and Apply take; any other stored value counts as none.
constexpr uint32_t kLowestPort = 1;
constexpr uint32_t kHighestPort = 65535;
// Stored and shown like any port, but detection is never restarted with it.
constexpr uint32_t kNoSearchPort = 65535;

// The library's status window, run as a modal dialog on its own thread:
// three status lines, the port, the user number, the patch, a tray icon.
// Other threads reach it only by posting messages and by RequestEnd.
class CIxaConfigDialog : public Ui::Dialog {
 public:
  // Resets the patch table to its defaults; touches neither the settings
  // nor the system's windows (it is made while the library loads). The
  // owner outlives the object.
  explicit CIxaConfigDialog(Ui::StatusWindowOwner& owner, HWND parent = nullptr);

  // On the window's thread, before its run: reads the port setting
  // (storing 6600 when it is missing) and the retry setting, and loads the
  // tray icons.
  void PrepareRun();
  // After the run, on the same thread: lets go of the icons.
  void EndRun();

  // The discovery port; the connection worker reads it once per attempt.
  uint32_t Port() const { return port_.load(); }
  // Whether the worker tries again by itself after a failure that may mend
  // itself: the stored RetryAfterFailure, on unless it is 0.
  bool RetriesAfterFailure() const { return retriesAfterFailure_.load(); }

  // Settings store: each operation opens the settings key, acts and closes
  // it again; true on success.
  bool ReadPort(uint32_t* port);
  bool WritePort(uint32_t port);
  bool ReadUserNumber(uint32_t* userNumber);
  bool ReadRetryAfterFailure(uint32_t* retry);
  bool WriteUserNumber(uint32_t userNumber);
  // Stops at the first missing value; what was read before it stays. A
  // value outside what the Patch dialog shows takes its default. True only
  // when every value was there and in range.
  bool ReadPatchTable();
  bool WritePatchTable();

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnCommand(int id, int notification) override;
  void EndNestedDialogs() override;

 private:
  enum TrayState { kTrayProduct, kTrayWarning, kTrayEmblem, kTrayEmblemAlt, kTrayStateCount };

  enum class SettingsAccess { Read, Write };
  // What a query found: nothing, a value of another type, size or range
  // than asked for, or a value in range.
  enum class Stored { Missing, Unusable, Read };

  void OpenSettingsKey(SettingsAccess access);
  void CloseSettingsKey();
  Stored QueryValue(const char* name, uint32_t lowest, uint32_t highest, uint32_t* value);
  bool SetValue(const char* name, uint32_t value);

  void BindControls();
  BOOL SetTrayIcon(DWORD operation, TrayState state);
  void PlaceWindow();
  void ShowStatus(int32_t code, const char* text);
  void Hide();

  void OnApply();
  void OnPatch();
  // The port 65535 means "do not search": no shutdown, no new start.
  void RestartUnlessNoPort();

  Ui::StatusWindowOwner& owner_;
  Ui::Static versionLabel_;
  Ui::ComboBox userNumberList_;
  CNumericEdit portField_;
  Ui::Static infoLine_;
  Ui::Static statusLine_;
  Ui::Static sessionLine_;
  Ui::Button applyButton_;
  std::atomic<uint32_t> port_{kDefaultPort};
  std::atomic<bool> retriesAfterFailure_{true};
  uint32_t userNumber_ = 1;
  Ui::UniqueIcon trayIcons_[kTrayStateCount];
  // Levels SOFTWARE, Quennel Systems, Corvane III Orb; open only during one
  // settings operation.
  Os::UniqueRegistryKey settingsKeys_[3];
  std::unique_ptr<OrbPatchDialog> currentPatchDialog_;
};
