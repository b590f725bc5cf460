#pragma once
// Values and small helpers shared by the files of ListViewWrapper.

#include <windows.h>

#include <commctrl.h>

#include "listview/list_view_layouts.h"
#include "listview/list_view_route.h"

namespace qv {

// Item and column texts are read through buffers of this many bytes.
inline constexpr int kTextCapacity = 260;
inline constexpr int kImagePathCapacity = 256;

// Every state bit above the overlay image: the state image (check box) and
// the bits beyond it.
inline constexpr UINT kStateImageMask = 0xFFFFF000;

// Text, image, lParam, state, and let the control keep callback texts.
inline constexpr UINT kInsertMask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE | LVIF_DI_SETITEM;

// Check state v is state image v + 1; unsigned arithmetic keeps absurd
// values from overflowing.
inline UINT CheckStateBits(int state) { return (static_cast<UINT>(state) + 1u) * 4096u; }
inline int CheckStateOf(UINT state) { return static_cast<int>(state / 4096u) - 1; }

// An index as wParam: -1 must reach the control as -1 on 64-bit too.
inline WPARAM Index(int index) { return static_cast<WPARAM>(static_cast<INT_PTR>(index)); }

inline LvItem ItemRecord(UINT mask, int item, int subItem) {
  LvItem record{};
  record.mask = mask;
  record.iItem = item;
  record.iSubItem = subItem;
  record.cchTextMax = kTextCapacity;
  return record;
}

inline LvColumn ColumnRecord(UINT mask) {
  LvColumn record{};
  record.mask = mask;
  record.cchTextMax = kTextCapacity;
  return record;
}

// A setter's answer: the control's, or 0 when nothing reached it.
inline int ResultOf(const route::Reply& reply) { return reply.sent ? static_cast<int>(reply.result) : 0; }

}  // namespace qv
