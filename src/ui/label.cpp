#include "ui/label.h"

#include <string>

#include "ui/gdi_owner.h"
#include "ui/window_text.h"

namespace qv {
namespace {

// The font given by WM_SETFONT lives in the window's extra bytes.
constexpr int kFontSlot = 0;


void Paint(HWND window) {
  PaintScope paint(window);
  RECT box{};
  GetClientRect(window, &box);
  SelectScope font(paint.dc(), reinterpret_cast<HGDIOBJ>(GetWindowLongPtrW(window, kFontSlot)));
  SetBkMode(paint.dc(), TRANSPARENT);
  SetTextColor(paint.dc(), RGB(0, 0, 0));
  const std::wstring text = WideWindowText(window);
  DrawTextW(paint.dc(), text.c_str(), static_cast<int>(text.size()), &box,
            DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_SETFONT:
      SetWindowLongPtrW(window, kFontSlot, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrW(window, kFontSlot);
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
      InvalidateRect(window, nullptr, TRUE);
      return result;
    }
    case WM_PAINT:
      Paint(window);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

bool RegisterLabelClass(HINSTANCE instance) {
  const std::wstring className = WideFromGbk(kLabelClassName);
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, className.c_str(), &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = LabelProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className.c_str();
  return RegisterClassExW(&wc) != 0;
}

}  // namespace qv
