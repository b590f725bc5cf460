#pragma once
// Owners of the window system's handles that are not kernel handles (icons,
// image lists) and the scoped DC work of painting.

#include <windows.h>
#include <commctrl.h>

#include "base/win_handle.h"

namespace qv {

struct IconKind {
  static HICON Empty() noexcept { return nullptr; }
  static void Release(HICON icon) noexcept { DestroyIcon(icon); }
};

struct ImageListKind {
  static HIMAGELIST Empty() noexcept { return nullptr; }
  static void Release(HIMAGELIST list) noexcept { ImageList_Destroy(list); }
};

using UniqueIcon = UniqueOwner<HICON, IconKind>;
using UniqueImageList = UniqueOwner<HIMAGELIST, ImageListKind>;

// BeginPaint and EndPaint around one WM_PAINT.
class PaintScope {
 public:
  explicit PaintScope(HWND window) noexcept : window_(window), dc_(BeginPaint(window, &paint_)) {}
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  ~PaintScope() { EndPaint(window_, &paint_); }
  HDC dc() const noexcept { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// GetDC and ReleaseDC of one window's DC (nullptr: the screen's).
class WindowDcScope {
 public:
  explicit WindowDcScope(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  WindowDcScope(const WindowDcScope&) = delete;
  WindowDcScope& operator=(const WindowDcScope&) = delete;
  ~WindowDcScope() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC dc() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a DC and puts the previous one back.
class SelectScope {
 public:
  SelectScope(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  SelectScope(const SelectScope&) = delete;
  SelectScope& operator=(const SelectScope&) = delete;
  ~SelectScope() {
    if (previous_) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace qv
