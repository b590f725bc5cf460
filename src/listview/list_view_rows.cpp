// Whole rows: bulk insert, read-back and re-sorting the list.
#include <cstdint>

#include "listview/list_view_common.h"
#include "listview/list_view_wrapper.h"

namespace qv {

using route::RecordRoute;
using route::TextPart;

namespace {

// LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE | LVIF_INDENT.
constexpr UINT kReadRowMask = 0x1F;

// Sends one row: the item, then one message per sub-item, addressed by the
// index the row was meant for. A row the control refuses is skipped with
// its sub-items. False when the route failed and the insert must end.
bool InsertRow(RecordRoute<LvItem>& route, int index, const ListRow& row) {
  LvItem item = ItemRecord(kInsertMask, index, 0);
  item.state = CheckStateBits(row.checkState);
  item.stateMask = kStateImageMask;
  item.iImage = row.image;
  item.iIndent = row.indent;
  item.lParam = row.data;
  const route::Reply inserted = route.Send(LVM_INSERTITEMW, 0, item, TextPart::Write(row.text));
  if (!inserted.sent) return false;
  if (inserted.result == -1) return true;

  const std::size_t subItems = row.SubItemCount();
  for (std::size_t k = 1; k <= subItems; ++k) {
    LvItem sub = ItemRecord(0, index, static_cast<int>(k));
    TextPart text = TextPart::None();
    if (k <= row.subTexts.size()) {
      sub.mask = LVIF_TEXT;
      text = TextPart::Write(row.subTexts[k - 1]);
    }
    if (k <= row.subImages.size()) {
      sub.mask |= LVIF_IMAGE;
      sub.iImage = row.subImages[k - 1];
    }
    if (!route.Send(LVM_SETITEMW, 0, sub, text).sent) return false;
  }
  return true;
}

}  // namespace

void ListViewWrapper::InsertRows(std::optional<int> position, const std::vector<ListRow>& rows, int sortCode) {
  std::vector<ListRow> sorted = rows;
  qv::SortRows(sorted, 1, static_cast<std::int64_t>(sorted.size()), sortCode);

  Send(WM_SETREDRAW, FALSE);
  // The control appends an item asked for beyond the end; starting there
  // keeps each row's sub-items on the row. Before the start there is no
  // place at all, so nothing is inserted.
  const int count = GetItemCount();
  const int start = position && *position != -1 && *position < count ? *position : count;
  if (start >= 0) {
    RecordRoute<LvItem> route(listWindow_, CrossMemory());
    if (route.Ready()) {
      for (std::size_t i = 0; i < sorted.size(); ++i) {
        const std::int64_t index = static_cast<std::int64_t>(start) + static_cast<std::int64_t>(i);
        if (index > INT32_MAX || !InsertRow(route, static_cast<int>(index), sorted[i])) break;
      }
    }
  }
  Send(WM_SETREDRAW, TRUE);
}

void ListViewWrapper::SortRows(std::vector<ListRow>& rows, std::optional<int> first, std::optional<int> last,
                               int sortCode) {
  qv::SortRows(rows, first.value_or(1), last ? *last : static_cast<std::int64_t>(rows.size()), sortCode);
}

void ListViewWrapper::ReadAllRows(std::vector<ListRow>& rows) {
  const int count = GetItemCount();
  rows.clear();
  rows.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (int item = 0; item < count; ++item) rows.push_back(ReadRow(item));
}

ListRow ListViewWrapper::ReadRow(int item) {
  const int columns = GetColumnCount();
  ListRow row;
  const std::size_t subItems = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  row.subTexts.assign(subItems, std::string());
  row.subImages.assign(subItems, 0);

  RecordRoute<LvItem> route(listWindow_, CrossMemory());
  LvItem record = ItemRecord(kReadRowMask, item, 0);
  record.stateMask = kStateImageMask;
  const route::Reply reply = route.Send(LVM_GETITEMW, 0, record, TextPart::Read(kTextCapacity), true);
  if (!reply.result) return row;
  row.text = reply.text;
  row.image = record.iImage;
  row.data = static_cast<std::int32_t>(record.lParam);
  row.indent = record.iIndent;
  row.checkState = CheckStateOf(record.state);

  for (std::size_t k = 1; k <= subItems; ++k) {
    LvItem sub = ItemRecord(LVIF_TEXT | LVIF_IMAGE, item, static_cast<int>(k));
    const route::Reply read = route.Send(LVM_GETITEMW, 0, sub, TextPart::Read(kTextCapacity), true);
    if (!read.result) continue;
    row.subTexts[k - 1] = read.text;
    row.subImages[k - 1] = sub.iImage;
  }
  return row;
}

void ListViewWrapper::SortList(int column, int direction) {
  std::vector<ListRow> rows;
  ReadAllRows(rows);
  DeleteAllItems();
  // Column 0 gives 0x800, the item text; column c the text of sub-item c.
  auto code = static_cast<std::int32_t>(static_cast<std::uint32_t>(column) + 0x800u);
  if (direction != 1) code = ~code;
  InsertRows(0, rows, code);
}

}  // namespace qv
