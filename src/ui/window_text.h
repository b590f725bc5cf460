#pragma once
// A window's text, kept as GBK bytes by the program and carried by the wide
// functions, so that it is right whatever the system's ANSI code page.

#include <windows.h>

#include <string>
#include <string_view>

#include "base/gbk_wide.h"

namespace qv {

inline std::wstring WideWindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline std::string WindowText(HWND window) { return GbkFromWide(WideWindowText(window)); }

inline bool SetWindowGbkText(HWND window, std::string_view text) {
  return SetWindowTextW(window, WideFromGbk(text).c_str()) != FALSE;
}

}  // namespace qv
