// Whole rows: the messages InsertRows sends, reading rows back, re-sorting
// the list, and what cross-process mode does when the other process cannot
// be reached or a block cannot be had.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "list_view_test_support.h"
#include "listview/list_view_wrapper.h"
#include "support/handle_count.h"

namespace qv {
namespace {

using test::CountingMemory;
using test::kAllModes;
using test::ListTest;
using test::LocalList;
using test::MessageRecorder;
using test::Mode;
using test::RecordedMessage;

ListRow Row(std::string text, std::vector<std::string> subTexts = {}, std::vector<std::int32_t> subImages = {}) {
  ListRow row;
  row.text = std::move(text);
  row.subTexts = std::move(subTexts);
  row.subImages = std::move(subImages);
  return row;
}

void AddColumns(ListViewWrapper& list, int count) {
  for (int k = 0; k < count; ++k) list.InsertColumn(std::nullopt, "c" + std::to_string(k));
}

std::vector<std::string> ItemTexts(ListViewWrapper& list, int subItem = 0) {
  std::vector<std::string> texts;
  for (int k = 0; k < list.GetItemCount(); ++k) texts.push_back(list.GetItemText(k, subItem));
  return texts;
}

// --- The messages of InsertRows ----------------------------------------------
// Recorded by subclassing a list of this process; the cross-process modes
// hand the control blocks of this process, so they are recorded too.

class InsertRowsMessages : public ListTest {
 protected:
  void SetUp() override {
    ListTest::SetUp();
    AddColumns(*wrapper_, 4);
    recorder_ = std::make_unique<MessageRecorder>(list_);
  }
  void TearDown() override { recorder_.reset(); }

  std::vector<RecordedMessage> Sent() const { return recorder_->Of({WM_SETREDRAW, LVM_INSERTITEMW, LVM_SETITEMW}); }

  std::unique_ptr<MessageRecorder> recorder_;
};

TEST_P(InsertRowsMessages, RedrawIsOffAroundTheRowsEvenWithNone) {
  wrapper_->InsertRows(std::nullopt, {}, 1);
  std::vector<RecordedMessage> sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].message, UINT{WM_SETREDRAW});
  EXPECT_EQ(sent[0].wParam, WPARAM{FALSE});
  EXPECT_EQ(sent[1].message, UINT{WM_SETREDRAW});
  EXPECT_EQ(sent[1].wParam, WPARAM{TRUE});

  recorder_->messages.clear();
  wrapper_->InsertRows(std::nullopt, {Row("a"), Row("b")}, 0);
  sent = Sent();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent.front().message, UINT{WM_SETREDRAW});
  EXPECT_EQ(sent.front().wParam, WPARAM{FALSE});
  EXPECT_EQ(sent.back().message, UINT{WM_SETREDRAW});
  EXPECT_EQ(sent.back().wParam, WPARAM{TRUE});
}

TEST_P(InsertRowsMessages, OneInsertPerRowAndOneWritePerSubItem) {
  ListRow row = Row("host", {"name", "mac"}, {7, 8, 9});
  row.image = 3;
  row.checkState = 1;
  row.data = 42;
  wrapper_->InsertRows(std::nullopt, {row}, 1);
  const std::vector<RecordedMessage> sent = Sent();
  ASSERT_EQ(sent.size(), 6u);
  const RecordedMessage& insert = sent[1];
  EXPECT_EQ(insert.message, UINT{LVM_INSERTITEMW});
  EXPECT_EQ(insert.mask, 0x100Fu);
  EXPECT_EQ(insert.item, 0);
  EXPECT_EQ(insert.subItem, 0);
  EXPECT_EQ(insert.text, "host");
  EXPECT_EQ(insert.image, 3);
  EXPECT_EQ(insert.state, 0x2000u) << "check state 1 is state image 2";
  EXPECT_EQ(insert.stateMask, 0xFFFFF000u);

  const UINT masks[] = {LVIF_TEXT | LVIF_IMAGE, LVIF_TEXT | LVIF_IMAGE, LVIF_IMAGE};
  const char* texts[] = {"name", "mac", ""};
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    const RecordedMessage& sub = sent[1 + k];
    EXPECT_EQ(sub.message, UINT{LVM_SETITEMW});
    EXPECT_EQ(sub.mask, masks[k - 1]);
    EXPECT_EQ(sub.item, 0);
    EXPECT_EQ(sub.subItem, k);
    EXPECT_EQ(sub.image, 6 + k);
    EXPECT_EQ(sub.text, texts[k - 1]);
  }
  EXPECT_EQ(wrapper_->GetItemText(0, 2), "mac");
  EXPECT_EQ(wrapper_->GetItemData(0), 42);
}

TEST_P(InsertRowsMessages, RowsGoAfterTheItemsOrAtTheGivenPosition) {
  for (const char* text : {"i0", "i1", "i2", "i3", "i4"}) wrapper_->InsertItem(std::nullopt, text);
  recorder_->messages.clear();
  wrapper_->InsertRows(std::nullopt, {Row("b", {"sb"}), Row("a", {"sa"})}, 1);
  std::vector<RecordedMessage> sent = recorder_->Of({LVM_INSERTITEMW, LVM_SETITEMW});
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].item, 5);
  EXPECT_EQ(sent[0].text, "a") << "sorted by item text";
  EXPECT_EQ(sent[1].item, 5);
  EXPECT_EQ(sent[2].item, 6);
  EXPECT_EQ(sent[3].item, 6);

  recorder_->messages.clear();
  wrapper_->InsertRows(0, {Row("y"), Row("x")}, 0);
  sent = recorder_->Of({LVM_INSERTITEMW});
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].item, 0);
  EXPECT_EQ(sent[0].text, "y") << "code 0 keeps the order";
  EXPECT_EQ(sent[1].item, 1);
  EXPECT_EQ(ItemTexts(*wrapper_), (std::vector<std::string>{"y", "x", "i0", "i1", "i2", "i3", "i4", "a", "b"}));
}

TEST_P(InsertRowsMessages, RefusedRowIsSkippedWithItsSubItems) {
  recorder_->refused = {"bad"};
  wrapper_->InsertRows(std::nullopt, {Row("a", {"sa"}), Row("bad", {"sbad"}), Row("c", {"sc"})}, 0);
  const std::vector<RecordedMessage> sent = recorder_->Of({LVM_INSERTITEMW, LVM_SETITEMW});
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[2].message, UINT{LVM_INSERTITEMW});
  EXPECT_EQ(sent[2].text, "bad");
  EXPECT_EQ(sent[3].message, UINT{LVM_INSERTITEMW});
  EXPECT_EQ(sent[3].text, "c");
  EXPECT_EQ(sent[3].item, 2) << "the next row keeps its computed index";
  EXPECT_EQ(sent[4].item, 2) << "sub-items go to the computed index";
  EXPECT_EQ(wrapper_->GetItemCount(), 2);
  EXPECT_EQ(Sent().back().wParam, WPARAM{TRUE});
}

TEST_P(InsertRowsMessages, CallersRowsAreNotReordered) {
  const std::vector<ListRow> rows{Row("c"), Row("a"), Row("b")};
  wrapper_->InsertRows(std::nullopt, rows, ~1);
  EXPECT_EQ(rows[0].text, "c");
  EXPECT_EQ(rows[1].text, "a");
  EXPECT_EQ(ItemTexts(*wrapper_), (std::vector<std::string>{"c", "b", "a"}));
}

TEST_P(InsertRowsMessages, PositionsOutsideTheList) {
  wrapper_->InsertItem(std::nullopt, "i0");
  recorder_->messages.clear();
  // Beyond the end the control appends: the rows and their sub-items start
  // at the end, so each sub-item stays with its row.
  wrapper_->InsertRows(50, {Row("a", {"sa"})}, 0);
  std::vector<RecordedMessage> sent = recorder_->Of({LVM_INSERTITEMW, LVM_SETITEMW});
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].item, 1);
  EXPECT_EQ(sent[1].item, 1);
  EXPECT_EQ(wrapper_->GetItemText(1, 1), "sa");
  // Before the start there is no place: nothing is inserted.
  recorder_->messages.clear();
  wrapper_->InsertRows(-3, {Row("x"), Row("y"), Row("z"), Row("w")}, 0);
  EXPECT_TRUE(recorder_->Of({LVM_INSERTITEMW}).empty());
  EXPECT_EQ(Sent().size(), 2u) << "redraw still off and on";
  EXPECT_EQ(wrapper_->GetItemCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, InsertRowsMessages,
                         ::testing::Values(Mode::kSameProcess, Mode::kCrossVirtual, Mode::kCrossSection),
                         test::ModeName);

// --- Reading rows and sorting the list ---------------------------------------

class ListViewRows : public ListTest {};

TEST_P(ListViewRows, ReadRowReturnsWhatInsertRowsShowed) {
  ListViewWrapper& list = *wrapper_;
  AddColumns(list, 4);
  ::SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_SUBITEMIMAGES, LVS_EX_SUBITEMIMAGES);
  ListRow row = Row("192.168.1.005", {"\xD6\xF7\xBB\xFA", "00-11-22-33-44-55", "3"}, {0, 5});
  row.image = 2;
  row.data = -7;
  row.checkState = -1;
  list.InsertRows(std::nullopt, {row}, 1);
  list.SetItemIndent(0, 2);

  const ListRow back = list.ReadRow(0);
  EXPECT_EQ(back.text, row.text);
  EXPECT_EQ(back.image, 2);
  EXPECT_EQ(back.data, -7);
  EXPECT_EQ(back.indent, 2);
  EXPECT_EQ(back.checkState, -1);
  EXPECT_EQ(back.subTexts, row.subTexts);
  ASSERT_EQ(back.subImages.size(), 3u);
  EXPECT_EQ(back.subImages[1], 5);

  const ListRow missing = list.ReadRow(5);
  EXPECT_EQ(missing.text, "");
  EXPECT_EQ(missing.image, 0);
  EXPECT_EQ(missing.data, 0);
  EXPECT_EQ(missing.subTexts, (std::vector<std::string>(3)));
  EXPECT_EQ(missing.subImages, (std::vector<std::int32_t>(3)));
}

TEST_P(ListViewRows, OneColumnReadsNoSubItems) {
  ListViewWrapper& list = *wrapper_;
  AddColumns(list, 1);
  list.InsertItem(std::nullopt, "solo");
  const ListRow row = list.ReadRow(0);
  EXPECT_EQ(row.text, "solo");
  EXPECT_TRUE(row.subTexts.empty());
  EXPECT_TRUE(row.subImages.empty());
}

TEST_P(ListViewRows, ReadAllRowsReplacesTheTable) {
  ListViewWrapper& list = *wrapper_;
  AddColumns(list, 2);
  list.InsertRows(std::nullopt, {Row("a", {"1"}), Row("b", {"2"}), Row("c", {"3"})}, 0);
  std::vector<ListRow> rows{Row("old"), Row("old"), Row("old"), Row("old"), Row("old")};
  list.ReadAllRows(rows);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].text, "c");
  EXPECT_EQ(rows[2].subTexts, (std::vector<std::string>{"3"}));
  list.DeleteAllItems();
  list.ReadAllRows(rows);
  EXPECT_TRUE(rows.empty());
}

TEST_P(ListViewRows, SortListByColumnBothWays) {
  ListViewWrapper& list = *wrapper_;
  AddColumns(list, 3);
  list.InsertRows(std::nullopt,
                  {Row("10.0.0.3", {"c", "x"}), Row("10.0.0.1", {"a", "z"}), Row("10.0.0.2", {"b", "y"})}, 0);
  list.SortList(1);
  EXPECT_EQ(ItemTexts(list, 1), (std::vector<std::string>{"a", "b", "c"}));
  list.SortList(1);
  EXPECT_EQ(ItemTexts(list, 1), (std::vector<std::string>{"a", "b", "c"})) << "sorting again keeps the order";
  list.SortList(1, 2);
  EXPECT_EQ(ItemTexts(list, 1), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(ItemTexts(list, 2), (std::vector<std::string>{"x", "y", "z"})) << "rows move whole";
  list.SortList(0);
  EXPECT_EQ(ItemTexts(list), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  list.SortList(2, 1);
  EXPECT_EQ(ItemTexts(list, 2), (std::vector<std::string>{"x", "y", "z"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewRows, kAllModes, test::ModeName);

// --- Cross-process failures ---------------------------------------------------

TEST(CrossProcessFailures, ProcessThatCannotBeOpenedGetsNoMessage) {
  LocalList local;
  auto memory = std::make_unique<CountingMemory>();
  CountingMemory& counts = *memory;
  ListViewWrapper list(std::move(memory));
  ASSERT_TRUE(list.Attach(local.list()));
  AddColumns(list, 2);
  list.InsertItem(std::nullopt, "kept");
  list.EnableCrossProcess();
  counts.refuseOpen = true;
  MessageRecorder recorder(local.list());

  EXPECT_EQ(list.InsertItem(std::nullopt, "x"), -1);
  EXPECT_EQ(list.InsertColumn(std::nullopt, "x"), -1);
  EXPECT_EQ(list.GetItemText(0), "");
  EXPECT_EQ(list.SetItemText(0, 0, "x"), 0);
  EXPECT_EQ(list.GetColumnAlignment(0), 255);
  EXPECT_EQ(list.GetColumnWidth(0), 0);
  EXPECT_EQ(list.GetColumnImage(0), -1);
  EXPECT_EQ(list.FindItemByText("kept"), -1);
  EXPECT_EQ(list.ReadRow(0).text, "");
  list.InsertRows(std::nullopt, {Row("r", {"s"})}, 1);
  EXPECT_TRUE(recorder.Of({LVM_INSERTITEMW, LVM_SETITEMW, LVM_GETITEMW, LVM_FINDITEMW, LVM_GETCOLUMNW,
                           LVM_INSERTCOLUMNW})
                  .empty());
  EXPECT_EQ(recorder.Of({WM_SETREDRAW}).size(), 2u) << "redraw still switched back on";
  EXPECT_EQ(counts.allocations, 0);
  list.DisableCrossProcess();
  EXPECT_EQ(list.GetItemText(0), "kept");
  EXPECT_EQ(list.GetItemCount(), 1);
}

TEST(CrossProcessFailures, BlockThatCannotBeHadEndsTheOperation) {
  LocalList local;
  auto memory = std::make_unique<CountingMemory>();
  CountingMemory& counts = *memory;
  ListViewWrapper list(std::move(memory));
  ASSERT_TRUE(list.Attach(local.list(), true));
  AddColumns(list, 3);
  MessageRecorder recorder(local.list());

  // The structure is had, its text is not.
  counts.allocationsLeft = 1;
  EXPECT_EQ(list.InsertItem(std::nullopt, "x"), -1);
  counts.allocationsLeft = 1;
  EXPECT_EQ(list.GetItemText(0), "");
  // InsertRows: the first row and one sub-item go in, then blocks run out.
  counts.allocationsLeft = 3;
  list.InsertRows(std::nullopt, {Row("a", {"sa", "sb"}), Row("b")}, 0);
  EXPECT_EQ(recorder.Of({LVM_INSERTITEMW}).size(), 1u);
  EXPECT_EQ(recorder.Of({LVM_SETITEMW}).size(), 1u);
  EXPECT_EQ(recorder.Of({WM_SETREDRAW}).size(), 2u);
  EXPECT_EQ(list.GetItemCount(), 1);

  counts.allocationsLeft = -1;
  EXPECT_EQ(counts.allocations, counts.frees) << "every block that was had is freed";
  EXPECT_EQ(counts.failedFrees, 0);
  EXPECT_EQ(counts.opens, counts.closes);
}

TEST(CrossProcessFailures, EndedProcessAnswersWithFailureValues) {
  test::ListHost host;
  ASSERT_TRUE(host.Ready());
  ListViewWrapper list;
  ASSERT_TRUE(list.Attach(host.NewList(), true));
  AddColumns(list, 2);
  ASSERT_EQ(list.InsertItem(std::nullopt, "x"), 0);
  host.End();
  EXPECT_EQ(list.InsertItem(std::nullopt, "y"), -1);
  EXPECT_EQ(list.GetItemText(0), "");
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.GetColumnAlignment(0), 255);
  EXPECT_EQ(list.FindItemByData(std::nullopt, 0), -1);
  list.InsertRows(std::nullopt, {Row("r")}, 1);
  std::vector<ListRow> rows{Row("old")};
  list.ReadAllRows(rows);
  EXPECT_TRUE(rows.empty());
}

// Handles and remote blocks over many operations on another process.
TEST(CrossProcessFailures, ThousandOperationsLeaveNoHandleOrBlock) {
  test::ListHost host;
  ASSERT_TRUE(host.Ready());
  auto memory = std::make_unique<CountingMemory>();
  CountingMemory& counts = *memory;
  ListViewWrapper list(std::move(memory));
  ASSERT_TRUE(list.Attach(host.NewList(), true));
  AddColumns(list, 2);
  list.InsertRows(std::nullopt, {Row("warm", {"up"})}, 1);  // Wine sets up its cross-process messaging once
  const long before = test::ProcessHandleCount();
  for (int k = 0; k < 200; ++k) {
    list.InsertItem(std::nullopt, "item");
    list.SetItemText(k + 1, 1, "sub");
    list.GetItemText(k + 1, 1);
    list.FindItemByText("zz");
    list.GetColumnWidth(9);  // a failing read releases as much as a good one
  }
  EXPECT_EQ(test::ProcessHandleCount(), before);
  EXPECT_EQ(counts.opens, counts.closes);
  EXPECT_EQ(counts.allocations, counts.frees);
  EXPECT_EQ(counts.failedFrees, 0);
  EXPECT_EQ(list.GetItemCount(), 201);
  EXPECT_EQ(list.GetItemText(200, 1), "sub");
}

}  // namespace
}  // namespace qv
