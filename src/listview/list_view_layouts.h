#pragma once
// The structures exchanged with SysListView32, in the layouts of its wide
// ("W") messages without the later additions (groups, columns, tiles). In cross-process
// mode exactly these bytes are copied into the other process, so they are
// this program's own declarations rather than the SDK's, whose sizes change
// with the targeted Windows version. Pointer and lParam fields are pointer
// sized: the 64-bit build then matches the 64-bit control field by field.

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <cstdint>

namespace qv {

struct LvItem {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
  int iIndent;
};

struct LvColumn {
  UINT mask;
  int fmt;
  int cx;
  LPWSTR pszText;
  int cchTextMax;
  int iSubItem;
  int iImage;
  int iOrder;
};

// The point is left zero and not read by the searches made here; there is
// no vkDirection.
struct LvFindInfo {
  UINT flags;
  LPCWSTR psz;
  LPARAM lParam;
  POINT pt;
};

struct LvBkImage {
  ULONG ulFlags;
  HBITMAP hbm;
  LPWSTR pszImage;
  UINT cchImageMax;
  int xOffsetPercent;
  int yOffsetPercent;
};

#if !defined(_WIN64)
static_assert(sizeof(LvItem) == 40);
static_assert(sizeof(LvColumn) == 32);
static_assert(sizeof(LvFindInfo) == 20);
static_assert(sizeof(LvBkImage) == 24);
#endif

// Every field sits where the control's own declaration has it.
static_assert(offsetof(LvItem, pszText) == offsetof(LVITEMW, pszText));
static_assert(offsetof(LvItem, lParam) == offsetof(LVITEMW, lParam));
static_assert(offsetof(LvItem, iIndent) == offsetof(LVITEMW, iIndent));
static_assert(offsetof(LvColumn, pszText) == offsetof(LVCOLUMNW, pszText));
static_assert(offsetof(LvColumn, iOrder) == offsetof(LVCOLUMNW, iOrder));
static_assert(offsetof(LvFindInfo, psz) == offsetof(LVFINDINFOW, psz));
static_assert(offsetof(LvFindInfo, lParam) == offsetof(LVFINDINFOW, lParam));
static_assert(offsetof(LvFindInfo, pt) == offsetof(LVFINDINFOW, pt));
static_assert(offsetof(LvBkImage, pszImage) == offsetof(LVBKIMAGEW, pszImage));
static_assert(offsetof(LvBkImage, yOffsetPercent) == offsetof(LVBKIMAGEW, yOffsetPercent));

}  // namespace qv
