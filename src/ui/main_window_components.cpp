// The roles of the subclassed components: the group box stands in for the
// window towards the controls inside it, 标签 receives the workers' notice,
// the worker-count field takes its spin arrows along, and the list and the
// bars paint at the repaint pace.
#include <windows.h>

#include <optional>

#include "ui/app_messages.h"
#include "ui/main_window.h"

namespace qv {
namespace {

constexpr wchar_t kOwnerProperty[] = L"QuorvaneMainWindow";

}  // namespace

// Classic subclassing (the comctl32 helpers for it are not exported by name
// from every version the program meets without a manifest).
void MainWindow::Subclass(Component component) {
  HWND control = Handle(component);
  SetPropW(control, kOwnerProperty, this);
  originalProcs_[IndexOf(component)] = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::ComponentProc)));
}

LRESULT CALLBACK MainWindow::ComponentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  auto* owner = static_cast<MainWindow*>(GetPropW(window, kOwnerProperty));
  const Component component = owner ? owner->ComponentOf(window) : Component::Window;
  if (component == Component::Window) return DefWindowProcW(window, message, wParam, lParam);
  if (owner->pace_.Intercept(window, message, wParam, lParam)) return 0;
  const WNDPROC original = owner->originalProcs_[IndexOf(component)];
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(window, kOwnerProperty);
    return CallWindowProcW(original, window, message, wParam, lParam);
  }
  std::optional<LRESULT> handled;
  if (component == Component::分组框1) {
    handled = owner->GroupBoxMessage(window, message, wParam, lParam);
  } else if (component == Component::标签) {
    handled = owner->LabelMessage(message, wParam, lParam);
  } else if (Describe(component).spinArrows) {
    handled = owner->SpinFieldMessage(window, message, wParam, lParam, original);
  }
  return handled ? *handled : CallWindowProcW(original, window, message, wParam, lParam);
}

std::optional<LRESULT> MainWindow::GroupBoxMessage(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: {
      // A group box paints only its frame; with clipped children the
      // window's background would not show through.
      RECT area{};
      GetClientRect(box, &area);
      FillRect(reinterpret_cast<HDC>(wParam), &area, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      // The controls inside it send to their parent what is the window's.
      if (window_) return SendMessageW(window_, message, wParam, lParam);
      return std::nullopt;
    default: return std::nullopt;
  }
}

std::optional<LRESULT> MainWindow::LabelMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != ActiveCountNotice) return std::nullopt;
  return Raise(Component::标签, Event::Feedback,
               {static_cast<std::int32_t>(wParam), static_cast<std::int32_t>(lParam)});
}

std::optional<LRESULT> MainWindow::SpinFieldMessage(HWND field, UINT message, WPARAM wParam, LPARAM lParam,
                                                    WNDPROC original) {
  if (!spin_) return std::nullopt;
  switch (message) {
    case WM_SHOWWINDOW:
      // A child of a hidden parent is shown by this message alone, without
      // a position change (lParam is 0 for the field's own show or hide).
      if (lParam == 0) ShowWindow(spin_, wParam ? SW_SHOWNA : SW_HIDE);
      return std::nullopt;
    case WM_WINDOWPOSCHANGED: {
      const LRESULT result = CallWindowProcW(original, field, message, wParam, lParam);
      FollowField(field);
      return result;
    }
    case WM_ENABLE:
      EnableWindow(spin_, static_cast<BOOL>(wParam));
      return std::nullopt;
    default: return std::nullopt;
  }
}

void MainWindow::FollowField(HWND edit) {
  RECT box{};
  GetWindowRect(edit, &box);
  MapWindowPoints(nullptr, GetParent(edit), reinterpret_cast<POINT*>(&box), 2);
  const bool visible = (GetWindowLongW(edit, GWL_STYLE) & WS_VISIBLE) != 0;
  SetWindowPos(spin_, nullptr, box.right, box.top, Scaled(kSpinWidth), box.bottom - box.top,
               SWP_NOZORDER | SWP_NOACTIVATE | (visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

}  // namespace qv
