#include "dialog_window.h"

#include <algorithm>
#include <vector>

#include <windows.h>

namespace {

constexpr int kFirstButtonId = 100;
constexpr int kDontAskId = 200;
constexpr UINT kAutoPressMessage = WM_APP + 1;
constexpr int kMargin = 12;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kTextWidth = 360;
constexpr int kIconSize = 32;

struct Shown {
  const DialogRequest* request = nullptr;
  std::vector<int> buttonIndices;  // index of each shown button
  HWND dontAskBox = nullptr;
  int result = -1;
};

LPCWSTR IconFor(int icon) {
  switch (icon) {
    case 1:
      return IDI_INFORMATION;
    case 2:
      return IDI_QUESTION;
    case 3:
      return IDI_ERROR;
    case 4:
      return IDI_WARNING;
    default:
      return nullptr;
  }
}

void Finish(HWND window, Shown* shown, int button) {
  bool dontAsk = shown->dontAskBox != nullptr && SendMessageW(shown->dontAskBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
  shown->result = (button & 7) | (dontAsk ? 8 : 0);
  DestroyWindow(window);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* shown = reinterpret_cast<Shown*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id == IDCANCEL) {
        Finish(window, shown, shown->request->escapeButton);
      } else if (id == IDOK) {
        Finish(window, shown, shown->request->defaultButton);
      } else if (id >= kFirstButtonId && id < kFirstButtonId + 4) {
        Finish(window, shown, shown->buttonIndices[id - kFirstButtonId]);
      }
      return 0;
    }
    case kAutoPressMessage:
      if (lParam != 0 && shown->dontAskBox != nullptr) {
        SendMessageW(shown->dontAskBox, BM_SETCHECK, BST_CHECKED, 0);
      }
      Finish(window, shown, static_cast<int>(wParam));
      return 0;
    case WM_CLOSE:
      Finish(window, shown, shown->request->escapeButton);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

SIZE MeasureText(HFONT font, const std::wstring& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT rect{0, 0, kTextWidth, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

HWND AddChild(HWND parent, LPCWSTR cls, const std::wstring& text, DWORD style, int x, int y, int width, int height,
              int id, HFONT font) {
  HWND child = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

int RunDialog(const DialogRequest& request, int autoPress, bool autoDontAsk) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW cls{};
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = L"IxaDialogProgram";
  RegisterClassW(&cls);

  Shown shown;
  shown.request = &request;
  std::vector<std::wstring> labels;
  for (int i = 0; i < 4; ++i) {
    if (request.buttons[i]) {
      labels.push_back(*request.buttons[i]);
      shown.buttonIndices.push_back(i);
    }
  }
  if (labels.empty()) {  // an information box still needs a way to close it
    labels.push_back(L"OK");
    shown.buttonIndices.push_back(0);
  }

  auto* font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  std::wstring message = request.message.value_or(L"");
  SIZE textSize = MeasureText(font, message);
  LPCWSTR iconName = IconFor(request.icon);
  int textLeft = kMargin + (iconName ? kIconSize + kMargin : 0);
  int contentHeight = std::max<int>(textSize.cy, iconName ? kIconSize : 0);
  int buttonsWidth = static_cast<int>(labels.size()) * (kButtonWidth + kMargin) - kMargin;
  int clientWidth = std::max(textLeft + kTextWidth + kMargin, buttonsWidth + 2 * kMargin);
  int y = kMargin + contentHeight + kMargin;
  int dontAskY = y;
  if (request.offerDontAsk) y += 20 + kMargin / 2;
  int buttonsY = y;
  int clientHeight = buttonsY + kButtonHeight + kMargin;

  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&frame, style, FALSE);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  HWND window =
      CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, cls.lpszClassName, request.caption.value_or(L"").c_str(),
                      style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                      width, height, nullptr, nullptr, instance, &shown);
  if (window == nullptr) return request.escapeButton & 7;

  if (iconName) {
    HWND icon = AddChild(window, L"STATIC", L"", SS_ICON, kMargin, kMargin, kIconSize, kIconSize, -1, font);
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, iconName)), 0);
  }
  AddChild(window, L"STATIC", message, SS_LEFT | SS_NOPREFIX, textLeft, kMargin, kTextWidth, textSize.cy, -1, font);
  if (request.offerDontAsk) {
    shown.dontAskBox = AddChild(window, L"BUTTON", L"Don't ask me again", BS_AUTOCHECKBOX | WS_TABSTOP, kMargin,
                                dontAskY, 240, 20, kDontAskId, font);
  }
  int x = clientWidth - kMargin - buttonsWidth;
  HWND focus = nullptr;
  for (size_t i = 0; i < labels.size(); ++i) {
    bool isDefault = shown.buttonIndices[i] == request.defaultButton;
    HWND button = AddChild(window, L"BUTTON", labels[i], WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), x,
                           buttonsY, kButtonWidth, kButtonHeight, kFirstButtonId + static_cast<int>(i), font);
    if (isDefault || focus == nullptr) focus = button;
    x += kButtonWidth + kMargin;
  }
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetFocus(focus);
  if (autoPress >= 0) PostMessageW(window, kAutoPressMessage, autoPress, autoDontAsk ? 1 : 0);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return shown.result < 0 ? (request.escapeButton & 7) : shown.result;
}
