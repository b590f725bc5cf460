// Construction, binding, items, selection and searches.
#include "listview/list_view_wrapper.h"

#include <iterator>

#include "base/gbk_bytes.h"
#include "base/gbk_wide.h"
#include "listview/list_view_common.h"

namespace qv {

using route::Exchange;
using route::TextPart;

ListViewWrapper::ListViewWrapper() : ListViewWrapper(std::make_unique<ProcessMemoryHelper>()) {}

ListViewWrapper::ListViewWrapper(std::unique_ptr<ProcessMemoryHelper> memory) : memory_(std::move(memory)) {
  if (!memory_) memory_ = std::make_unique<ProcessMemoryHelper>();
}

ListViewWrapper::~ListViewWrapper() = default;

std::unique_ptr<ListViewWrapper> ListViewWrapper::Clone() const {
  auto copy = std::make_unique<ListViewWrapper>(memory_->Clone());
  copy->listWindow_ = listWindow_;
  copy->crossProcess_ = crossProcess_;
  return copy;
}

LRESULT ListViewWrapper::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageW(listWindow_, message, wParam, lParam);
}

bool ListViewWrapper::Attach(HWND window, bool crossProcess) {
  std::string name = GetWindowClassName(window);
  // ASCII letters only: the trail byte of a double-byte character may look
  // like one and must stay as it is.
  for (std::size_t k = 0; k < name.size(); ++k) {
    const char c = name[k];
    if (IsGbkLeadByte(static_cast<unsigned char>(c)) && k + 1 < name.size()) {
      ++k;
    } else if (c >= 'a' && c <= 'z') {
      name[k] = static_cast<char>(c - 'a' + 'A');
    }
  }
  if (name != "SYSLISTVIEW32") return false;
  if (crossProcess) crossProcess_ = true;
  listWindow_ = window;
  return true;
}

std::string ListViewWrapper::GetWindowClassName(HWND window) {
  wchar_t buffer[256];
  const int length = ::GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
  if (length <= 0) return {};
  const std::string text = GbkFromWide(std::wstring_view(buffer, static_cast<std::size_t>(length)));
  std::string_view name(text);
  const std::size_t begin = name.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  name = name.substr(begin, name.find_last_not_of(' ') - begin + 1);
  return std::string(name);
}

std::string ListViewWrapper::GetItemText(int item, int subItem) {
  LvItem record = ItemRecord(LVIF_TEXT, item, subItem);
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_GETITEMW, 0, record, TextPart::Read(kTextCapacity));
  return reply.result ? reply.text : std::string();
}

// The numeric reads take the field whatever the message answered: a failed
// read gives the zero the structure started with.
int ListViewWrapper::GetItemImage(int item, int subItem) {
  LvItem record = ItemRecord(LVIF_IMAGE, item, subItem);
  Exchange(listWindow_, CrossMemory(), LVM_GETITEMW, 0, record, TextPart::None(), true);
  return record.iImage;
}

int ListViewWrapper::GetItemCheckState(int item) {
  return CheckStateOf(static_cast<UINT>(Send(LVM_GETITEMSTATE, Index(item), kStateImageMask)));
}

int ListViewWrapper::GetItemIndent(int item) {
  LvItem record = ItemRecord(LVIF_INDENT, item, 0);
  Exchange(listWindow_, CrossMemory(), LVM_GETITEMW, 0, record, TextPart::None(), true);
  return record.iIndent;
}

int ListViewWrapper::GetItemData(int item) {
  LvItem record = ItemRecord(LVIF_PARAM, item, 0);
  Exchange(listWindow_, CrossMemory(), LVM_GETITEMW, 0, record, TextPart::None(), true);
  return static_cast<int>(record.lParam);
}

int ListViewWrapper::SetItemText(int item, int subItem, std::string_view text) {
  LvItem record = ItemRecord(LVIF_TEXT, item, subItem);
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETITEMW, 0, record, TextPart::Write(text)));
}

int ListViewWrapper::SetItemImage(int item, int subItem, int image) {
  LvItem record = ItemRecord(LVIF_IMAGE, item, subItem);
  record.iImage = image;
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETITEMW, 0, record, TextPart::None()));
}

int ListViewWrapper::SetItemCheckState(int item, int state) {
  return WriteItemState(item, CheckStateBits(state), kStateImageMask);
}

int ListViewWrapper::SetItemIndent(int item, int indent) {
  LvItem record = ItemRecord(LVIF_INDENT, item, 0);
  record.iIndent = indent;
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETITEMW, 0, record, TextPart::None()));
}

int ListViewWrapper::SetItemData(int item, int data) {
  LvItem record = ItemRecord(LVIF_PARAM, item, 0);
  record.lParam = data;
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETITEMW, 0, record, TextPart::None()));
}

// LVM_SETITEMSTATE takes the item in wParam; across processes the same
// change goes as an ordinary item write.
int ListViewWrapper::WriteItemState(int item, UINT state, UINT stateMask) {
  LvItem record = ItemRecord(LVIF_STATE, item, 0);
  record.state = state;
  record.stateMask = stateMask;
  if (!crossProcess_) return ResultOf(Exchange(listWindow_, nullptr, LVM_SETITEMSTATE, Index(item), record, TextPart::None()));
  return ResultOf(Exchange(listWindow_, CrossMemory(), LVM_SETITEMW, 0, record, TextPart::None()));
}

std::vector<int> ListViewWrapper::GetSelectedItems() {
  std::vector<int> selected;
  const int count = GetItemCount();
  for (int item = 0; item < count; ++item)
    if (IsItemSelected(item)) selected.push_back(item);
  return selected;
}

// Checked means state image 2 and above: an item without a state image
// (-1) or unchecked (0) is not checked.
std::vector<int> ListViewWrapper::GetCheckedItems() {
  std::vector<int> checked;
  const int count = GetItemCount();
  for (int item = 0; item < count; ++item)
    if (GetItemCheckState(item) > 0) checked.push_back(item);
  return checked;
}

int ListViewWrapper::GetSelectedCount() { return static_cast<int>(Send(LVM_GETSELECTEDCOUNT)); }

bool ListViewWrapper::IsItemSelected(int item) {
  return Send(LVM_GETITEMSTATE, Index(item), LVIS_SELECTED) == LVIS_SELECTED;
}

int ListViewWrapper::SelectItem(int item) { return WriteItemState(item, LVIS_SELECTED, LVIS_SELECTED); }

int ListViewWrapper::DeselectItem(int item) { return WriteItemState(item, ~UINT{LVIS_SELECTED}, LVIS_SELECTED); }

int ListViewWrapper::GetItemCount() { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }

int ListViewWrapper::InsertItem(std::optional<int> position, std::string_view text, int image, int checkState,
                                int indent, int data) {
  const int index = position && *position != -1 ? *position : GetItemCount();
  LvItem record = ItemRecord(kInsertMask, index, 0);
  record.iImage = image;
  record.state = CheckStateBits(checkState);
  record.stateMask = kStateImageMask;
  record.iIndent = indent;
  record.lParam = data;
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_INSERTITEMW, 0, record, TextPart::Write(text));
  return reply.sent ? static_cast<int>(reply.result) : -1;
}

bool ListViewWrapper::DeleteItem(int item) { return Send(LVM_DELETEITEM, Index(item)) != 0; }

bool ListViewWrapper::DeleteAllItems() { return Send(LVM_DELETEALLITEMS) != 0; }

// The control searches the items after the start index, so a search with
// no start begins before the first item (-1) rather than after it.
int ListViewWrapper::FindItemByText(std::string_view text, std::optional<int> start, bool wholeText, bool wrap) {
  LvFindInfo record{};
  record.flags = (wholeText ? LVFI_STRING : LVFI_PARTIAL) | (wrap ? LVFI_WRAP : 0);
  const route::Reply reply = Exchange(listWindow_, CrossMemory(), LVM_FINDITEMW, Index(start.value_or(-1)), record,
                                      TextPart::Write(text));
  return reply.sent ? static_cast<int>(reply.result) : -1;
}

int ListViewWrapper::FindItemByData(std::optional<int> start, int data, bool wrap) {
  LvFindInfo record{};
  record.flags = LVFI_PARAM | (wrap ? LVFI_WRAP : 0);
  record.lParam = data;
  const route::Reply reply =
      Exchange(listWindow_, CrossMemory(), LVM_FINDITEMW, Index(start.value_or(-1)), record, TextPart::None());
  return reply.sent ? static_cast<int>(reply.result) : -1;
}

bool ListViewWrapper::EnsureVisible(int item) { return Send(LVM_ENSUREVISIBLE, Index(item), TRUE) != 0; }

bool ListViewWrapper::Arrange() { return Send(LVM_ARRANGE, LVA_DEFAULT, 0) != 0; }

void ListViewWrapper::EnableCrossProcess() { crossProcess_ = true; }

void ListViewWrapper::DisableCrossProcess() { crossProcess_ = false; }

}  // namespace qv
