#include "ui/dialog.h"

#include "os/osboundary.h"
#include "ui/list_items.h"
#include "ui/ui_module.h"

namespace Ui {
namespace {
// Posted by RequestEnd; private to this layer.
constexpr UINT kRequestEndMessage = WM_APP + 0x3F0;
}  // namespace

Dialog::Dialog(int templateId, HWND parent)
    : template_(FindResourceData(templateId, MAKEINTRESOURCEW(5) /* RT_DIALOG */)),
      listItems_(FindResourceData(templateId, L"LIST_ITEMS")),
      parent_(parent) {}

INT_PTR Dialog::DoModal() {
  if (template_.data == nullptr) return -1;
  return DialogBoxIndirectParamW(ModuleInstance(), static_cast<const DLGTEMPLATE*>(template_.data), parent_,
                                 &DialogProc, reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) {
  EndNestedDialogs();
  ::EndDialog(hwnd_.load(), result);
}

void Dialog::RequestEnd(INT_PTR result) {
  endResult_.store(result);
  endRequested_.store(true);
  // The window thread checks the flag after publishing its handle, so one
  // of the two sides always sees the other.
  if (HWND hwnd = hwnd_.load()) PostMessageW(hwnd, kRequestEndMessage, 0, 0);
}

void Dialog::EndIfRequested() {
  if (endRequested_.load()) EndDialog(endResult_.load());
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

void Dialog::OnCommand(int id, int) {
  if (id == IDOK || id == IDCANCEL) EndDialog(id);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // No exception may unwind through the system's window code.
  return Os::Contain("a window handler", static_cast<INT_PTR>(FALSE),
                     [&] { return Dispatch(hwnd, message, wParam, lParam); });
}

INT_PTR Dialog::Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_.store(hwnd);
    LoadListItems(hwnd, self->listItems_);
    BOOL focusDefault = self->OnInitDialog();
    self->EndIfRequested();
    return focusDefault;
  }
  self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;

  if (message == kRequestEndMessage) {
    self->EndIfRequested();
    return TRUE;
  }
  LRESULT result = 0;
  if (self->OnMessage(message, wParam, lParam, &result)) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  if (message == WM_COMMAND) {
    self->OnCommand(LOWORD(wParam), HIWORD(wParam));
    return TRUE;
  }
  if (message == WM_NCDESTROY) self->hwnd_.store(nullptr);
  return FALSE;
}

}  // namespace Ui
