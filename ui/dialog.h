#pragma once

#include <atomic>

#include <windows.h>

#include "ui/ui_module.h"

namespace Ui {

// A modal dialog built from a resource template of this module, with its
// lists filled from the LIST_ITEMS resource of the same id. Messages reach
// the object through one dialog procedure.
class Dialog {
 public:
  // Looks up the template and its list items (see FindResourceData).
  Dialog(int templateId, HWND parent);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the modal loop on the calling thread; returns the end result, or -1
  // when the dialog could not be created.
  INT_PTR DoModal();
  // Ends the modal loop; call on the dialog's own thread.
  void EndDialog(INT_PTR result);
  // Ends the modal loop from any thread, even one that asks before the
  // window exists (the run then ends right after its initialisation).
  void RequestEnd(INT_PTR result);
  HWND GetSafeHwnd() const { return hwnd_.load(); }

 protected:
  // Runs after the lists received their items; binds controls and fills them.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Called on the dialog's thread right before it ends: a dialog that runs a
  // nested modal dialog ends that one first, or its own end would wait for
  // the nested loop to finish.
  virtual void EndNestedDialogs() {}
  // Returns true when the message was handled, with its result in *result.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual void OnCommand(int id, int notification);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  void EndIfRequested();

  ResourceData template_;
  ResourceData listItems_;
  HWND parent_;
  std::atomic<HWND> hwnd_{nullptr};
  std::atomic<bool> endRequested_{false};
  std::atomic<INT_PTR> endResult_{0};
};

}  // namespace Ui
