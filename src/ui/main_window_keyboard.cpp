// The keyboard as in a dialog: Tab and Shift+Tab cycle through the
// components in creation order, Enter presses the focused button, Escape
// closes the window, and the focus comes back where it was on activation.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "ui/main_window.h"

namespace qv {
namespace {

// The components that Tab visits, in creation order.
std::vector<Component> TabCycle() {
  std::vector<Component> cycle;
  for (const ComponentDescriptor& component : kLayout)
    if (component.tabStop) cycle.push_back(component.id);
  return cycle;
}

bool CanTakeFocus(HWND window) { return window && IsWindowVisible(window) && IsWindowEnabled(window); }

}  // namespace

void MainWindow::OnActivate(WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus && IsChild(window_, focus)) lastFocus_ = focus;
    return;
  }
  if (HIWORD(wParam)) return;  // minimised: nothing to focus
  RestoreFocus();
}

void MainWindow::RestoreFocus() {
  if (CanTakeFocus(lastFocus_) && IsChild(window_, lastFocus_)) SetFocus(lastFocus_);
  else FocusFirstInCycle();
}

void MainWindow::FocusFirstInCycle() {
  for (Component component : TabCycle()) {
    if (CanTakeFocus(Handle(component))) {
      SetFocus(Handle(component));
      return;
    }
  }
}

void MainWindow::MoveFocus(bool backwards) {
  const std::vector<Component> cycle = TabCycle();
  const int count = static_cast<int>(cycle.size());
  // The focus may sit inside a component (an address field's inner edits).
  int current = -1;
  for (HWND h = GetFocus(); h && h != window_ && current < 0; h = GetParent(h)) {
    const auto found = std::find(cycle.begin(), cycle.end(), ComponentOf(h));
    if (found != cycle.end()) current = static_cast<int>(found - cycle.begin());
  }
  if (current < 0) current = backwards ? 0 : count - 1;
  for (int step = 1; step <= count; ++step) {
    const int next = ((current + (backwards ? -step : step)) % count + count) % count;
    HWND target = Handle(cycle[static_cast<std::size_t>(next)]);
    if (!CanTakeFocus(target)) continue;
    SetFocus(target);
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(target, EM_SETSEL, 0, -1);
    return;
  }
}

bool MainWindow::TranslateKeyboard(const MSG& message) {
  if (message.message != WM_KEYDOWN || !window_) return false;
  if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
  switch (message.wParam) {
    case VK_TAB:
      if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
      MoveFocus(GetKeyState(VK_SHIFT) < 0);
      return true;
    case VK_ESCAPE: {
      const LRESULT wants = SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam,
                                         reinterpret_cast<LPARAM>(&message));
      if (wants & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return false;
      SendMessageW(window_, WM_CLOSE, 0, 0);
      return true;
    }
    case VK_RETURN: {
      const Component focused = ComponentOf(GetFocus());
      if (!IsKind(focused, Kind::PushButton)) return false;
      SendMessageW(Handle(focused), BM_CLICK, 0, 0);
      return true;
    }
    default: return false;
  }
}

int RunMessageLoop(MainWindow& window) {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.TranslateKeyboard(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace qv
