#pragma once
// The program's texts are GBK bytes; the window system's wide functions take
// UTF-16. Converting with code page 936 itself, never the system's ANSI code
// page, keeps every text right whatever Windows' "language for non-Unicode
// programs" is (Win32 only).

#include <windows.h>

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

inline constexpr UINT kGbkCodePage = 936;

// Bytes that are not valid GBK become what the system's own 936 conversion
// makes of them, as an ANSI control on Chinese Windows shows them; NULs
// inside the text are kept.
inline std::wstring WideFromGbk(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(kGbkCodePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(kGbkCodePage, 0, text.data(), length, wide.data(), needed)));
  return wide;
}

// A character that GBK cannot hold becomes the code page's default ("?");
// NULs inside the text are kept.
inline std::string GbkFromWide(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(kGbkCodePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string gbk(static_cast<std::size_t>(needed), '\0');
  gbk.resize(static_cast<std::size_t>(
      WideCharToMultiByte(kGbkCodePage, 0, text.data(), length, gbk.data(), needed, nullptr, nullptr)));
  return gbk;
}

}  // namespace qv
