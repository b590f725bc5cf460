#include "ui/repaint_pace.h"

#include <commctrl.h>

#include <algorithm>

namespace qv {
namespace {

// The row a plain insert or item write lands on; 0 (all rows) when the
// record is missing. The item index sits at the same place in both forms.
int RowOf(LPARAM record, HWND list, bool insert) {
  const auto* item = reinterpret_cast<const LVITEMA*>(record);
  if (!item) return 0;
  if (!insert) return std::max(item->iItem, 0);
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  return std::clamp(item->iItem, 0, std::max(count, 0));
}

// Messages that change nothing the list shows: reads, and the pointer
// passing over it.
bool LeavesListPaintAlone(UINT message) {
  switch (message) {
    case LVM_GETITEMCOUNT:
    case LVM_GETITEMA:
    case LVM_GETITEMW:
    case LVM_GETITEMTEXTA:
    case LVM_GETITEMTEXTW:
    case LVM_GETITEMRECT:
    case LVM_GETITEMSTATE:
    case LVM_GETNEXTITEM:
    case LVM_GETTOPINDEX:
    case LVM_GETCOUNTPERPAGE:
    case LVM_GETHEADER:
    case LVM_GETCOLUMNA:
    case LVM_GETCOLUMNW:
    case LVM_GETCOLUMNWIDTH:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
    case WM_GETFONT:
    case WM_GETDLGCODE:
    case WM_NCHITTEST:
    case WM_SETCURSOR:
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE: return true;
    default: return false;
  }
}

}  // namespace

void RepaintPace::Attach(HWND window, HWND list, HWND statusBar, HWND progressBar) {
  window_ = window;
  list_ = list;
  statusBar_ = statusBar;
  progressBar_ = progressBar;
}

bool RepaintPace::Arm() {
  if (listHeld_ || barsHeld_) return true;
  return SetTimer(window_, kTimerId, kIntervalMs, nullptr) != 0;
}

void RepaintPace::HoldList() {
  if (!Arm()) return;
  if (!listHeld_) listHeldSince_ = GetTickCount64();
  listHeld_ = true;
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
}

void RepaintPace::HoldBars() {
  if (Arm()) barsHeld_ = true;
}

void RepaintPace::Flush() {
  KillTimer(window_, kTimerId);
  FlushList();
  FlushBars();
}

void RepaintPace::OnTimer() {
  if (listHeld_ && (ListPageChanged() || GetTickCount64() - listHeldSince_ >= kScrollBarIntervalMs)) FlushList();
  FlushBars();
  if (!listHeld_) KillTimer(window_, kTimerId);
}

void RepaintPace::FlushList() {
  if (!listHeld_) return;
  const int firstChanged = firstChangedRow_;
  listHeld_ = false;
  firstChangedRow_ = INT_MAX;
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  if (firstChanged != 0) RepaintChangedRows(firstChanged);
}

void RepaintPace::FlushBars() {
  if (!barsHeld_) return;
  barsHeld_ = false;
  InvalidateRect(statusBar_, nullptr, TRUE);
  InvalidateRect(progressBar_, nullptr, TRUE);
}

// A changed row above the page moves the rows on it.
bool RepaintPace::ListPageChanged() const {
  if (firstChangedRow_ == INT_MAX) return false;
  const auto top = static_cast<long long>(SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
  const auto rows = static_cast<long long>(SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
  return firstChangedRow_ <= top + rows;
}

bool RepaintPace::Intercept(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (control == list_) {
    if (listHeld_) NoteListMessage(message, wParam, lParam);
    return false;
  }
  if (message != WM_PAINT || wParam != 0 || !barsHeld_) return false;
  if (control != statusBar_ && control != progressBar_) return false;
  ValidateRect(control, nullptr);
  return true;
}

// Anything but inserts, item writes, reads and the pointer's passing (a
// paint the held list skipped, a click, a column resize, another's switch
// back on) leaves the whole list to be painted.
void RepaintPace::NoteListMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  int firstTouched = 0;
  switch (message) {
    case LVM_INSERTITEMA:
    case LVM_INSERTITEMW: firstTouched = RowOf(lParam, list_, true); break;
    case LVM_SETITEMA:
    case LVM_SETITEMW: firstTouched = RowOf(lParam, list_, false); break;
    case LVM_SETITEMTEXTA:
    case LVM_SETITEMTEXTW: firstTouched = static_cast<int>(std::min<WPARAM>(wParam, INT_MAX)); break;
    case WM_SETREDRAW:
      if (!wParam) return;
      break;
    default:
      if (LeavesListPaintAlone(message)) return;
      break;
  }
  firstChangedRow_ = std::min(firstChangedRow_, firstTouched);
}

// Switching redrawing on invalidates the whole list, and redraws its scroll
// bars there and then. Of the rows, only those from the first changed one
// down can look different: a row inserted below the page changes nothing
// on screen but the scroll bars.
void RepaintPace::RepaintChangedRows(int firstChanged) {
  RECT client{};
  GetClientRect(list_, &client);
  RECT changed = client;
  if (firstChanged == INT_MAX) {
    changed.top = client.bottom;
  } else {
    RECT row{};
    row.left = LVIR_BOUNDS;
    if (SendMessageW(list_, LVM_GETITEMRECT, static_cast<WPARAM>(firstChanged), reinterpret_cast<LPARAM>(&row)))
      changed.top = std::clamp(row.top, client.top, client.bottom);
  }
  ValidateRect(list_, nullptr);
  if (changed.top < changed.bottom) InvalidateRect(list_, &changed, TRUE);
}

}  // namespace qv
