#pragma once

#include <cstdint>

namespace Ui {

// What the status window asks of the loader that owns it. The window layer
// declares it and the loader implements it, so that the window depends on
// nothing above it. Every call comes on the window's own thread.
class StatusWindowOwner {
 public:
  virtual ~StatusWindowOwner() = default;

  // Apply with a new port, and Reconnect: the connection is shut down and
  // detection started again, with the host's last launch option.
  virtual void RestartDetection() = 0;
  // Apply with a new user number: handed to the running module, if any.
  virtual void ChangeUserNumber(int32_t userNumber) = 0;
  // The Patch dialog's OK: every row's port resolved anew from the nodes of
  // the last connection.
  virtual void ReresolvePatchPorts() = 0;
  // The window is shown with its settings read, once.
  virtual void WindowShown() = 0;
  // The user closed the window with its close box (it is only hidden).
  virtual void WindowClosedByUser() = 0;
};

}  // namespace Ui
