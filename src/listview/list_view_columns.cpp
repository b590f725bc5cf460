// Columns, editing, colours, views, the background image and the
// selection style.
#include "listview/list_view_common.h"
#include "listview/list_view_wrapper.h"

namespace qv {

using route::Exchange;
using route::TextPart;

namespace {

constexpr std::uint8_t kNoAlignment = 255;
// LVCFMT_BITMAP_ON_RIGHT.
constexpr int kImageOnRight = 0x1000;

}  // namespace

std::string ListViewWrapper::GetColumnText(int column) {
  LvColumn record = ColumnRecord(LVCF_TEXT);
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_GETCOLUMNW, Index(column), record, TextPart::Read(kTextCapacity));
  return reply.result ? reply.text : std::string();
}

std::uint8_t ListViewWrapper::GetColumnAlignment(int column) {
  LvColumn record = ColumnRecord(LVCF_FMT);
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_GETCOLUMNW, Index(column), record, TextPart::None(), true);
  if (!reply.result) return kNoAlignment;
  if (record.fmt & LVCFMT_CENTER) return 1;
  if (record.fmt & LVCFMT_RIGHT) return 2;
  return 0;
}

int ListViewWrapper::GetColumnWidth(int column) {
  LvColumn record = ColumnRecord(LVCF_WIDTH);
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_GETCOLUMNW, Index(column), record, TextPart::None(), true);
  return reply.result ? record.cx : 0;
}

int ListViewWrapper::GetColumnImage(int column) {
  LvColumn record = ColumnRecord(LVCF_FMT | LVCF_IMAGE);
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_GETCOLUMNW, Index(column), record, TextPart::None(), true);
  return reply.result ? record.iImage : -1;
}

bool ListViewWrapper::IsColumnImageOnRight(int column) {
  LvColumn record = ColumnRecord(LVCF_FMT | LVCF_IMAGE);
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_GETCOLUMNW, Index(column), record, TextPart::None(), true);
  return reply.result && (record.fmt & kImageOnRight);
}

int ListViewWrapper::SetColumnText(int column, std::string_view text) {
  LvColumn record = ColumnRecord(LVCF_TEXT);
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETCOLUMNW, Index(column), record, TextPart::Write(text)));
}

int ListViewWrapper::SetColumnWidth(int column, int width) {
  LvColumn record = ColumnRecord(LVCF_WIDTH);
  record.cx = width;
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETCOLUMNW, Index(column), record, TextPart::None()));
}

int ListViewWrapper::SetColumnImage(int column, int image) {
  LvColumn record = ColumnRecord(LVCF_IMAGE);
  record.iImage = image;
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETCOLUMNW, Index(column), record, TextPart::None()));
}

int ListViewWrapper::GetColumnCount() {
  const auto header = reinterpret_cast<HWND>(Send(LVM_GETHEADER));
  if (!header) return 0;
  return static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}

int ListViewWrapper::InsertColumn(std::optional<int> position, std::string_view text, int width, int alignment,
                                  int image, bool imageOnRight) {
  const int index = position && *position != -1 ? *position : GetColumnCount();
  LvColumn record = ColumnRecord(LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_IMAGE);
  record.cx = width;
  record.fmt = alignment == 1 ? LVCFMT_CENTER : alignment == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
  if (imageOnRight) record.fmt |= kImageOnRight;
  record.iImage = image;
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_INSERTCOLUMNW, Index(index), record, TextPart::Write(text));
  return reply.sent ? static_cast<int>(reply.result) : -1;
}

bool ListViewWrapper::DeleteColumn(int column) { return Send(LVM_DELETECOLUMN, Index(column)) != 0; }

// The list edits only when it has the focus; across processes its window
// must first become the active one.
HWND ListViewWrapper::EditLabel(int item) {
  if (crossProcess_) ::SetActiveWindow(::GetWindow(listWindow_, GW_OWNER));
  ::SetFocus(listWindow_);
  return reinterpret_cast<HWND>(Send(LVM_EDITLABELW, Index(item)));
}

COLORREF ListViewWrapper::GetTextColor() { return static_cast<COLORREF>(Send(LVM_GETTEXTCOLOR)); }

void ListViewWrapper::SetTextColor(COLORREF colour) {
  Send(LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(colour));
  RedrawVisibleItems();
}

bool ListViewWrapper::RedrawVisibleItems() {
  const int top = GetTopIndex();
  const int count = GetCountPerPage();
  return Send(LVM_REDRAWITEMS, Index(top), static_cast<LPARAM>(top) + count) != 0;
}

int ListViewWrapper::GetTopIndex() { return static_cast<int>(Send(LVM_GETTOPINDEX)); }

int ListViewWrapper::GetCountPerPage() { return static_cast<int>(Send(LVM_GETCOUNTPERPAGE)); }

COLORREF ListViewWrapper::GetTextBkColor() { return static_cast<COLORREF>(Send(LVM_GETTEXTBKCOLOR)); }

void ListViewWrapper::SetTextBkColor(COLORREF colour) {
  Send(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(colour));
  RedrawVisibleItems();
}

COLORREF ListViewWrapper::GetBkColor() { return static_cast<COLORREF>(Send(LVM_GETBKCOLOR)); }

void ListViewWrapper::SetBkColor(COLORREF colour) {
  Send(LVM_SETBKCOLOR, 0, static_cast<LPARAM>(colour));
  RedrawVisibleItems();
}

// This class numbers the views icon, small icon, list, report, tile; the
// control numbers them icon, report, small icon, list, tile.
int ListViewWrapper::GetView() {
  switch (Send(LVM_GETVIEW)) {
    case LV_VIEW_ICON:
      return 0;
    case LV_VIEW_SMALLICON:
      return 1;
    case LV_VIEW_LIST:
      return 2;
    case LV_VIEW_DETAILS:
      return 3;
    case LV_VIEW_TILE:
      return 4;
    default:
      return -1;
  }
}

void ListViewWrapper::SetView(int view) {
  DWORD controlView = LV_VIEW_ICON;
  switch (view) {
    case 1:
      controlView = LV_VIEW_SMALLICON;
      break;
    case 2:
      controlView = LV_VIEW_LIST;
      break;
    case 3:
      controlView = LV_VIEW_DETAILS;
      break;
    case 4:
      controlView = LV_VIEW_TILE;
      break;
    default:
      break;
  }
  Send(LVM_SETVIEW, controlView);
}

std::string ListViewWrapper::GetBkImage() {
  LvBkImage record{};
  record.ulFlags = LVBKIF_SOURCE_URL;
  record.cchImageMax = kImagePathCapacity;
  return Exchange(listWindow_, CrossMemory(), LVM_GETBKIMAGEW, 0, record, TextPart::Read(kImagePathCapacity)).text;
}

void ListViewWrapper::SetBkImage(std::string_view path, bool tile) {
  SetTextBkColor(CLR_NONE);
  LvBkImage record{};
  record.ulFlags = LVBKIF_SOURCE_URL | (tile ? LVBKIF_STYLE_TILE : 0);
  record.cchImageMax = static_cast<UINT>(path.size() + 1);
  record.xOffsetPercent = 100;
  record.yOffsetPercent = 100;
  Exchange(listWindow_, CrossMemory(), LVM_SETBKIMAGEW, 0, record, TextPart::Write(path));
}

int ListViewWrapper::GetHotItem() { return static_cast<int>(Send(LVM_GETHOTITEM)); }

int ListViewWrapper::GetItemSpacing() { return static_cast<int>(static_cast<DWORD>(Send(LVM_GETITEMSPACING, FALSE))); }

HWND ListViewWrapper::GetEditControl() { return reinterpret_cast<HWND>(Send(LVM_GETEDITCONTROL)); }

void ListViewWrapper::GetItemSpacingXY(int& horizontal, int& vertical, bool smallIcons) {
  const auto spacing = static_cast<DWORD>(Send(LVM_GETITEMSPACING, smallIcons ? TRUE : FALSE));
  horizontal = static_cast<short>(LOWORD(spacing));
  vertical = static_cast<short>(HIWORD(spacing));
}

bool ListViewWrapper::SingleSelection(std::optional<bool> set) {
  LONG style = ::GetWindowLongA(listWindow_, GWL_STYLE);
  if (set) {
    style = *set ? (style | LVS_SINGLESEL) : (style & ~LONG{LVS_SINGLESEL});
    ::SetWindowLongA(listWindow_, GWL_STYLE, style);
    style = ::GetWindowLongA(listWindow_, GWL_STYLE);
  }
  return (style & LVS_SINGLESEL) != 0;
}

int ListViewWrapper::GetSelectedItem() {
  if (!SingleSelection()) return -1;
  return static_cast<int>(Send(LVM_GETNEXTITEM, Index(-1), LVNI_SELECTED));
}

bool ListViewWrapper::SelectSingleItem(int item) { return SingleSelection() && SelectItem(item) != 0; }

}  // namespace qv
