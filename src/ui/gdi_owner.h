#pragma once
// Owners of the window system's handles that are not kernel handles (icons,
// image lists) and the scoped DC work of painting.

#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace qv {

template <class H, auto Release>
class UniqueUiHandle {
 public:
  UniqueUiHandle() noexcept = default;
  explicit UniqueUiHandle(H handle) noexcept : handle_(handle) {}
  UniqueUiHandle(UniqueUiHandle&& other) noexcept : handle_(other.release()) {}
  UniqueUiHandle& operator=(UniqueUiHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueUiHandle(const UniqueUiHandle&) = delete;
  UniqueUiHandle& operator=(const UniqueUiHandle&) = delete;
  ~UniqueUiHandle() { reset(); }

  H get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  H release() noexcept { return std::exchange(handle_, nullptr); }
  void reset(H handle = nullptr) noexcept {
    if (H old = std::exchange(handle_, handle)) Release(old);
  }

 private:
  H handle_ = nullptr;
};

inline void DestroyIconHandle(HICON icon) { DestroyIcon(icon); }
inline void DestroyImageListHandle(HIMAGELIST list) { ImageList_Destroy(list); }

using UniqueIcon = UniqueUiHandle<HICON, &DestroyIconHandle>;
using UniqueImageList = UniqueUiHandle<HIMAGELIST, &DestroyImageListHandle>;

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
