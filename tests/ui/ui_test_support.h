#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ui_testing {

// ---- The settings key HKLM\SOFTWARE\Quennel Systems\Corvane III Orb.
// Remembers what the prefix held when constructed and puts it back when
// destroyed.
class SettingsKey {
 public:
  SettingsKey();
  ~SettingsKey();

  // Makes the level-3 key exist and hold no values.
  void CreateEmpty();
  // Removes the level-3 key (and the level-2 key when it was ours).
  void Remove();
  bool Exists() const;

  void SetDword(const char* name, uint32_t value);
  void SetBinary(const char* name, const std::vector<uint8_t>& bytes, DWORD type = REG_BINARY);
  // Lets everyone only read the level-3 key (the destructor restores it).
  void MakeReadOnly();
  void Delete(const char* name);
  // False when the value is missing or not a 4-byte value.
  bool Get(const char* name, uint32_t* value) const;
  uint32_t GetOr(const char* name, uint32_t fallback) const;
  int CountValues() const;

  // Stores a whole patch: for each row, its dpIndex, enabled and universe.
  struct Row {
    uint32_t dpIndex, enabled, universe;
  };
  void SetPatch(const std::vector<Row>& rows);

 private:
  struct Saved {
    DWORD type;
    std::vector<uint8_t> data;
  };
  bool hadCompany_ = false;
  bool hadProduct_ = false;
  std::map<std::string, Saved> savedValues_;
};

// ---- A stand-in notification area: a window of the tray's class that
// records what Shell_NotifyIcon hands it.
struct TrayCall {
  DWORD operation;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
  HWND owner;
  UINT id;
  UINT flags;
  UINT callbackMessage;
  std::wstring tip;
  std::vector<uint8_t> iconBits;  // empty without NIF_ICON
};
std::vector<TrayCall> TrayCallsFor(HWND owner);
void ClearTrayCalls();

// ---- Driving the status window run by the loader's own status thread.
class StatusWindowTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Opens the status window as the library does at load and waits until its
  // initialisation has finished.
  void StartWindow();
  HWND Window() const { return window_; }

  std::string Text(int id) const;
  std::string Caption() const;
  // Posts a status report as the loader does.
  void PostStatus(int code, const char* text);
  // Waits until every message posted so far has been handled.
  void Sync() const;
  // A click on a push button, handled before this returns.
  void Click(int id) const;
  // A click whose handler runs a nested modal loop: posted, not sent.
  void ClickLater(int id) const;
  void SetPortText(const char* text) const;
  void SelectUserNumber(int item) const;
  bool ApplyEnabled() const;
  // The Patch dialog opened by ClickLater(Patch), once it is initialised.
  HWND WaitForPatchDialog() const;
  // The status window's event handle.
  HANDLE Event(int loaderEvent) const;

  SettingsKey store_;

 private:
  HWND window_ = nullptr;
};

// A list's selected item text, or "<none>".
std::string SelectedText(HWND dialog, int listId);
std::vector<std::string> ListItems(HWND dialog, int listId);

}  // namespace ui_testing
