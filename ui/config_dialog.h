#pragma once

#include <atomic>
#include <cstdint>

#include "ui/dialog.h"

// Private messages of the status window.
constexpr UINT kTrayMessage = WM_USER + 2;
constexpr UINT kEndRequestMessage = WM_USER + 3;
constexpr UINT kStatusMessage = WM_USER + 4;

// The library's status window, run as a modal dialog on its own thread.
class CIxaConfigDialog : public Ui::Dialog {
 public:
  explicit CIxaConfigDialog(HWND parent = nullptr);

  // The discovery port; the connection worker reads it once per attempt.
  uint32_t Port() const { return port_.load(); }

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnCommand(int id, int notification) override;

 private:
  void ShowStatus(int code, const char* text);

  std::atomic<uint32_t> port_{6600};
};
