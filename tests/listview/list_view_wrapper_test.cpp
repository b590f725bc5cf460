// ListViewWrapper against the real SysListView32: every case runs with the
// list in this process (directly, and through blocks of both memory
// variants) and with the list in another process (list_host.exe).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "list_view_test_support.h"
#include "listview/list_view_wrapper.h"

namespace qv {
namespace {

using test::kAllModes;
using test::ListTest;
using test::Mode;

void AddItems(ListViewWrapper& list, std::initializer_list<const char*> texts) {
  for (const char* text : texts) ASSERT_NE(list.InsertItem(std::nullopt, text), -1) << text;
}

void SetExtendedStyle(HWND list, DWORD style) { ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, style, style); }

// --- Items and sub-items -------------------------------------------------

class ListViewItems : public ListTest {};

TEST_P(ListViewItems, InsertPlacesAndReadsBackEveryField) {
  ListViewWrapper& list = *wrapper_;
  ASSERT_EQ(list.InsertColumn(std::nullopt, "a"), 0);
  EXPECT_EQ(list.InsertItem(std::nullopt, "alpha", 2, -1, 0, 77), 0);
  EXPECT_EQ(list.InsertItem(std::nullopt, "beta"), 1);
  EXPECT_EQ(list.InsertItem(0, "first"), 0);
  EXPECT_EQ(list.InsertItem(-1, "last"), 3);
  ASSERT_EQ(list.GetItemCount(), 4);
  EXPECT_EQ(list.GetItemText(0), "first");
  EXPECT_EQ(list.GetItemText(1), "alpha");
  EXPECT_EQ(list.GetItemText(3), "last");
  EXPECT_EQ(list.GetItemData(1), 77);
  EXPECT_EQ(list.GetItemImage(1), 2);
  EXPECT_EQ(list.GetItemImage(2), -1);

  EXPECT_NE(list.SetItemText(2, 0, "\xD6\xF7\xBB\xFA"), 0);  // GBK
  EXPECT_EQ(list.GetItemText(2), "\xD6\xF7\xBB\xFA");
  EXPECT_NE(list.SetItemImage(2, 0, 5), 0);
  EXPECT_EQ(list.GetItemImage(2), 5);
  EXPECT_NE(list.SetItemIndent(2, 3), 0);
  EXPECT_EQ(list.GetItemIndent(2), 3);
  EXPECT_NE(list.SetItemData(2, -123456), 0);
  EXPECT_EQ(list.GetItemData(2), -123456);

  EXPECT_TRUE(list.DeleteItem(0));
  EXPECT_EQ(list.GetItemText(0), "alpha");
  EXPECT_TRUE(list.DeleteAllItems());
  EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_P(ListViewItems, SubItemsHoldTheirOwnTextAndImage) {
  ListViewWrapper& list = *wrapper_;
  for (const char* name : {"a", "b", "c"}) list.InsertColumn(std::nullopt, name);
  SetExtendedStyle(list_, LVS_EX_SUBITEMIMAGES);
  AddItems(list, {"row"});
  EXPECT_NE(list.SetItemText(0, 2, "two"), 0);
  EXPECT_NE(list.SetItemImage(0, 1, 4), 0);
  EXPECT_EQ(list.GetItemText(0, 2), "two");
  EXPECT_EQ(list.GetItemText(0, 1), "");
  EXPECT_EQ(list.GetItemText(0), "row");
  EXPECT_EQ(list.GetItemImage(0, 1), 4);
}

// Each failed read comes right after a good read with non-zero answers, so
// a buffer that kept them would show them again.
TEST_P(ListViewItems, OutOfRangeIndicesGiveTheFailureValues) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  ASSERT_EQ(list.InsertItem(std::nullopt, "only", 3, -1, 0, 77), 0);
  ASSERT_NE(list.SetItemIndent(0, 2), 0);
  ASSERT_NE(list.SelectItem(0), 0);
  for (const int bad : {-2, 1, 99}) {
    SCOPED_TRACE(bad);
    ASSERT_EQ(list.GetItemText(0), "only");
    EXPECT_EQ(list.GetItemText(bad), "");
    ASSERT_EQ(list.GetItemText(0), "only");
    EXPECT_EQ(list.GetItemText(0, bad), "");
    ASSERT_EQ(list.GetItemData(0), 77);
    EXPECT_EQ(list.GetItemData(bad), 0) << "a failed read gives the structure's zero";
    ASSERT_EQ(list.GetItemImage(0), 3);
    EXPECT_EQ(list.GetItemImage(bad), 0);
    ASSERT_EQ(list.GetItemIndent(0), 2);
    EXPECT_EQ(list.GetItemIndent(bad), 0);
    ASSERT_TRUE(list.IsItemSelected(0));
    EXPECT_FALSE(list.IsItemSelected(bad));
    EXPECT_EQ(list.SetItemText(bad, 0, "x"), 0);
    EXPECT_EQ(list.SetItemData(bad, 5), 0);
    EXPECT_FALSE(list.DeleteItem(bad));
    EXPECT_FALSE(list.EnsureVisible(bad));
  }
  EXPECT_EQ(list.InsertItem(-5, "nowhere"), -1);
  EXPECT_EQ(list.GetItemCount(), 1);
  EXPECT_EQ(list.GetItemText(0), "only");
  EXPECT_EQ(list.GetItemData(0), 77);
}

TEST_P(ListViewItems, LongTextsReadBackCutToTheBuffer) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  list.InsertColumn(std::nullopt, "b");
  const std::string longText(400, 'x');
  ASSERT_EQ(list.InsertItem(std::nullopt, longText), 0);
  list.SetItemText(0, 1, longText);
  list.SetColumnText(1, longText);
  // 260 bytes with the NUL: never more than 259 characters come back.
  for (const std::string& text :
       {list.GetItemText(0), list.GetItemText(0, 1), list.GetColumnText(1), list.ReadRow(0).text}) {
    EXPECT_EQ(text.size(), 259u);
    EXPECT_EQ(text.find_first_not_of('x'), std::string::npos);
  }
  // Cut where a double-byte character would lose its second byte, the
  // whole character goes.
  std::string wide;
  for (int k = 0; k < 200; ++k) wide += "\xD6\xD0";
  list.SetItemText(0, 1, wide);
  EXPECT_EQ(list.GetItemText(0, 1), wide.substr(0, 258));
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewItems, kAllModes, test::ModeName);

// --- Check states -----------------------------------------------------------

class ListViewCheckStates : public ListTest {};

TEST_P(ListViewCheckStates, WithoutCheckBoxesNothingIsChecked) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  AddItems(list, {"a", "b"});
  EXPECT_EQ(list.GetItemCheckState(0), -1);
  EXPECT_TRUE(list.GetCheckedItems().empty()) << "no state image is not a check";
}

TEST_P(ListViewCheckStates, CheckBoxesReadAndWrite) {
  ListViewWrapper& list = *wrapper_;
  SetExtendedStyle(list_, LVS_EX_CHECKBOXES);
  list.InsertColumn(std::nullopt, "a");
  // (Wine's list starts every new item of a check-box list unchecked,
  // whatever state the insert carries.)
  AddItems(list, {"a", "b", "c"});
  EXPECT_EQ(list.GetItemCheckState(0), 0);
  EXPECT_NE(list.SetItemCheckState(1, 1), 0);
  EXPECT_EQ(list.GetItemCheckState(1), 1);
  EXPECT_EQ(list.GetCheckedItems(), (std::vector<int>{1}));
  EXPECT_NE(list.SetItemCheckState(2, 1), 0);
  EXPECT_NE(list.SetItemCheckState(1, 0), 0);
  EXPECT_EQ(list.GetCheckedItems(), (std::vector<int>{2}));
  EXPECT_NE(list.SetItemCheckState(2), 0) << "omitted: no state image";
  EXPECT_EQ(list.GetItemCheckState(2), -1);
  EXPECT_EQ(list.GetItemCheckState(7), -1);
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewCheckStates, kAllModes, test::ModeName);

// --- Selection --------------------------------------------------------------

class ListViewSelection : public ListTest {};

TEST_P(ListViewSelection, MultipleSelectionHasNoSingleSelectedItem) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  AddItems(list, {"a", "b", "c", "d"});
  EXPECT_NE(list.SelectItem(0), 0);
  EXPECT_NE(list.SelectItem(2), 0);
  EXPECT_EQ(list.GetSelectedCount(), 2);
  EXPECT_EQ(list.GetSelectedItems(), (std::vector<int>{0, 2}));
  EXPECT_TRUE(list.IsItemSelected(2));
  EXPECT_FALSE(list.IsItemSelected(1));
  EXPECT_EQ(list.GetSelectedItem(), -1) << "a multi-selection list has no single selected item";
  EXPECT_FALSE(list.SelectSingleItem(1));
  EXPECT_NE(list.DeselectItem(0), 0);
  EXPECT_EQ(list.GetSelectedItems(), (std::vector<int>{2}));
  EXPECT_EQ(list.SelectItem(99), 0);
  EXPECT_EQ(list.GetSelectedCount(), 1);
}

// In the same process a state change goes as LVM_SETITEMSTATE with the item
// in wParam; through memory blocks it goes as an item write.
TEST_P(ListViewSelection, StateChangesGoAsTheirMessage) {
  if (GetParam() == Mode::kOtherProcess) GTEST_SKIP() << "another process's list is not recorded here";
  ListViewWrapper& list = *wrapper_;
  SetExtendedStyle(list_, LVS_EX_CHECKBOXES);
  list.InsertColumn(std::nullopt, "a");
  AddItems(list, {"a", "b", "c"});
  test::MessageRecorder recorder(list_);
  EXPECT_NE(list.SetItemCheckState(1, 1), 0);
  EXPECT_NE(list.SelectItem(2), 0);
  EXPECT_NE(list.DeselectItem(0), 0);
  const struct {
    int item;
    UINT state;
    UINT stateMask;
  } expected[] = {
      {1, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK}, {2, LVIS_SELECTED, LVIS_SELECTED}, {0, 0, LVIS_SELECTED}};
  const bool direct = GetParam() == Mode::kSameProcess;
  const std::vector<test::RecordedMessage> sent = recorder.Of({LVM_SETITEMSTATE, LVM_SETITEMW});
  ASSERT_EQ(sent.size(), std::size(expected));
  for (std::size_t k = 0; k < sent.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(sent[k].message, direct ? UINT{LVM_SETITEMSTATE} : UINT{LVM_SETITEMW});
    EXPECT_EQ(direct ? static_cast<int>(sent[k].wParam) : sent[k].item, expected[k].item);
    EXPECT_EQ(sent[k].stateMask & LVIS_STATEIMAGEMASK & expected[k].stateMask,
              expected[k].stateMask & LVIS_STATEIMAGEMASK);
    EXPECT_EQ(sent[k].state & expected[k].stateMask, expected[k].state);
  }
}

TEST_P(ListViewSelection, SingleSelectionStyleCanBeSetAndCleared) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  AddItems(list, {"a", "b", "c"});
  EXPECT_FALSE(list.SingleSelection(false));
  EXPECT_FALSE(list.SingleSelection());
  EXPECT_TRUE(list.SingleSelection(true));
  EXPECT_TRUE(list.SingleSelection());
  EXPECT_TRUE(list.SelectSingleItem(1));
  EXPECT_EQ(list.GetSelectedItem(), 1);
  EXPECT_FALSE(list.SingleSelection(false));
  EXPECT_EQ(list.GetSelectedItem(), -1);
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewSelection, kAllModes, test::ModeName);

// --- Find -------------------------------------------------------------------

class ListViewFind : public ListTest {};

TEST_P(ListViewFind, TextAndDataSearches) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  int data = 10;
  for (const char* text : {"alpha", "beta", "alphabet", "\xD6\xF7\xBB\xFA"})
    ASSERT_NE(list.InsertItem(std::nullopt, text, -1, -1, 0, data++), -1);

  EXPECT_EQ(list.FindItemByText("alp"), 0) << "no start: the first item is searched too";
  EXPECT_EQ(list.FindItemByText("alp", 0), 2) << "the search begins after the start";
  EXPECT_EQ(list.FindItemByText("alpha", std::nullopt, true), 0);
  EXPECT_EQ(list.FindItemByText("alpha", 0, true), -1);
  EXPECT_EQ(list.FindItemByText("alpha", 0, true, true), 0);
  EXPECT_EQ(list.FindItemByText("\xD6\xF7"), 3);
  EXPECT_EQ(list.FindItemByText("zeta"), -1);

  EXPECT_EQ(list.FindItemByData(std::nullopt, 12), 2);
  EXPECT_EQ(list.FindItemByData(2, 12), -1);
  EXPECT_EQ(list.FindItemByData(2, 12, true), 2);
  EXPECT_EQ(list.FindItemByData(std::nullopt, 99), -1);
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewFind, kAllModes, test::ModeName);

// --- Columns ----------------------------------------------------------------

class ListViewColumns : public ListTest {};

TEST_P(ListViewColumns, InsertWithDefaultsAndRead) {
  ListViewWrapper& list = *wrapper_;
  EXPECT_EQ(list.InsertColumn(std::nullopt, "\xB5\xD8\xD6\xB7"), 0);  // GBK
  EXPECT_EQ(list.InsertColumn(std::nullopt, "left"), 1);
  EXPECT_EQ(list.InsertColumn(std::nullopt, "right", 120, 2, 3, true), 2);
  EXPECT_EQ(list.InsertColumn(std::nullopt, "centre", 80, 1), 3);
  EXPECT_EQ(list.InsertColumn(1, "odd", 60, 7), 1);
  ASSERT_EQ(list.GetColumnCount(), 5);

  EXPECT_EQ(list.GetColumnText(0), "\xB5\xD8\xD6\xB7");
  EXPECT_EQ(list.GetColumnText(2), "left");
  EXPECT_EQ(list.GetColumnAlignment(2), 0);
  EXPECT_EQ(list.GetColumnWidth(2), 50);
  EXPECT_FALSE(list.IsColumnImageOnRight(2));
  EXPECT_EQ(list.GetColumnAlignment(3), 2);
  EXPECT_EQ(list.GetColumnWidth(3), 120);
  EXPECT_EQ(list.GetColumnImage(3), 3);
  EXPECT_TRUE(list.IsColumnImageOnRight(3));
  EXPECT_EQ(list.GetColumnAlignment(4), 1);
  EXPECT_EQ(list.GetColumnAlignment(1), 0) << "an unknown alignment is left";
}

TEST_P(ListViewColumns, SettersAndDelete) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  list.InsertColumn(std::nullopt, "b");
  EXPECT_NE(list.SetColumnText(1, "renamed"), 0);
  EXPECT_NE(list.SetColumnWidth(1, 77), 0);
  EXPECT_NE(list.SetColumnImage(1, 6), 0);
  EXPECT_EQ(list.GetColumnText(1), "renamed");
  EXPECT_EQ(list.GetColumnWidth(1), 77);
  EXPECT_EQ(list.GetColumnImage(1), 6);
  EXPECT_TRUE(list.DeleteColumn(0));
  EXPECT_EQ(list.GetColumnCount(), 1);
  EXPECT_EQ(list.GetColumnText(0), "renamed");
  EXPECT_FALSE(list.DeleteColumn(5));
}

TEST_P(ListViewColumns, MissingColumnsGiveTheFailureValues) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  for (const int bad : {-1, 1, 40}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(list.GetColumnText(bad), "");
    EXPECT_EQ(list.GetColumnAlignment(bad), 255);
    EXPECT_EQ(list.GetColumnWidth(bad), 0);
    EXPECT_EQ(list.GetColumnImage(bad), -1);
    EXPECT_FALSE(list.IsColumnImageOnRight(bad));
    EXPECT_EQ(list.SetColumnText(bad, "x"), 0);
  }
  EXPECT_EQ(list.GetColumnCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewColumns, kAllModes, test::ModeName);

// --- Colours and views ------------------------------------------------------

class ListViewLook : public ListTest {};

TEST_P(ListViewLook, ColoursRoundTrip) {
  ListViewWrapper& list = *wrapper_;
  list.SetTextColor(RGB(1, 2, 3));
  list.SetTextBkColor(RGB(4, 5, 6));
  list.SetBkColor(RGB(7, 8, 9));
  EXPECT_EQ(list.GetTextColor(), RGB(1, 2, 3));
  EXPECT_EQ(list.GetTextBkColor(), RGB(4, 5, 6));
  EXPECT_EQ(list.GetBkColor(), RGB(7, 8, 9));
}

// Each code against the control's own view, in both directions: two codes
// swapped both ways would still round-trip.
TEST_P(ListViewLook, ViewsMapBothWays) {
  ListViewWrapper& list = *wrapper_;
  EXPECT_EQ(list.GetView(), 3) << "a report list";
  const std::pair<int, DWORD> views[] = {
      {0, LV_VIEW_ICON}, {1, LV_VIEW_SMALLICON}, {2, LV_VIEW_LIST}, {3, LV_VIEW_DETAILS}};
  for (const auto& [code, view] : views) {
    SCOPED_TRACE(code);
    list.SetView(code);
    EXPECT_EQ(static_cast<DWORD>(::SendMessageA(list_, LVM_GETVIEW, 0, 0)), view);
    EXPECT_EQ(list.GetView(), code);
  }
  list.SetView(9);
  EXPECT_EQ(list.GetView(), 0) << "an unknown view is the icon view";
}

TEST_P(ListViewLook, PageAndSpacing) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a");
  for (int k = 0; k < 40; ++k) list.InsertItem(std::nullopt, "row");
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_GT(list.GetCountPerPage(), 0);
  EXPECT_TRUE(list.RedrawVisibleItems());
  EXPECT_TRUE(list.EnsureVisible(39));
  EXPECT_GT(list.GetTopIndex(), 0);
  EXPECT_EQ(list.GetHotItem(), -1);
  int horizontal = 0, vertical = 0;
  list.GetItemSpacingXY(horizontal, vertical);
  const int packed = list.GetItemSpacing();
  EXPECT_EQ(horizontal, static_cast<short>(LOWORD(packed)));
  EXPECT_EQ(vertical, static_cast<short>(HIWORD(packed)));
  EXPECT_GT(horizontal, 0);
  EXPECT_GT(vertical, 0);
  list.SetView(0);
  EXPECT_TRUE(list.Arrange());
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewLook, kAllModes, test::ModeName);

// --- Background image -------------------------------------------------------

class ListViewBackground : public ListTest {};

TEST_P(ListViewBackground, PathOnlyTilesBehindATransparentTextBackground) {
  ListViewWrapper& list = *wrapper_;
  std::unique_ptr<test::MessageRecorder> recorder;
  if (GetParam() != Mode::kOtherProcess) recorder = std::make_unique<test::MessageRecorder>(list_);
  list.SetBkImage("C:\\windows\\qv-background.bmp");
  EXPECT_EQ(list.GetTextBkColor(), CLR_NONE);
  if (recorder) {
    const std::vector<test::RecordedMessage> sent = recorder->Of({LVM_SETBKIMAGEW});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].mask, UINT{LVBKIF_SOURCE_URL | LVBKIF_STYLE_TILE});
    EXPECT_EQ(sent[0].text, "C:\\windows\\qv-background.bmp");
    EXPECT_EQ(sent[0].image, 100) << "x offset";
  }
  const std::string shown = list.GetBkImage();
  if (shown.empty()) GTEST_SKIP() << "this comctl32 (Wine) does not keep background image URLs";
  EXPECT_EQ(shown, "C:\\windows\\qv-background.bmp");
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewBackground, kAllModes, test::ModeName);

// --- Editing ----------------------------------------------------------------

class ListViewEditing : public ListTest {};

TEST_P(ListViewEditing, EditLabelOpensTheListsEditControl) {
  ListViewWrapper& list = *wrapper_;
  list.InsertColumn(std::nullopt, "a", 200);
  AddItems(list, {"label"});
  EXPECT_EQ(list.GetEditControl(), nullptr);
  const HWND edit = list.EditLabel(0);
  if (!edit && GetParam() == Mode::kOtherProcess)
    GTEST_SKIP() << "the focus cannot move to another process's window here";
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(list.GetWindowClassName(edit), "Edit");
  EXPECT_EQ(list.GetEditControl(), edit);
  ::SendMessageA(list_, LVM_CANCELEDITLABEL, 0, 0);
  EXPECT_EQ(list.GetEditControl(), nullptr);
  EXPECT_EQ(list.GetItemText(0), "label");
}

INSTANTIATE_TEST_SUITE_P(Modes, ListViewEditing, kAllModes, test::ModeName);

// --- Attaching --------------------------------------------------------------

TEST(ListViewAttach, ClassNameInAnyLetterCase) {
  test::LocalList local;
  ListViewWrapper list;
  EXPECT_EQ(list.GetWindowClassName(local.list()), "SysListView32");
  EXPECT_TRUE(list.Attach(local.list()));
  EXPECT_EQ(list.ListWindow(), local.list());

  // A class of this program's own that differs only in letter case.
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ::DefWindowProcA;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "sYSlISTvIEW32";
  if (!::RegisterClassA(&windowClass)) GTEST_SKIP() << "the class name is taken by comctl32's own class";
  const HWND lookalike = ::CreateWindowExA(0, "sYSlISTvIEW32", "", WS_CHILD, 0, 0, 10, 10, local.parent(), nullptr,
                                           windowClass.hInstance, nullptr);
  ASSERT_NE(lookalike, nullptr);
  EXPECT_EQ(list.GetWindowClassName(lookalike), "sYSlISTvIEW32");
  EXPECT_TRUE(list.Attach(lookalike));
  ::DestroyWindow(lookalike);
  ::UnregisterClassA("sYSlISTvIEW32", windowClass.hInstance);
}

TEST(ListViewAttach, OtherWindowsAreRefusedAndChangeNothing) {
  test::LocalList local;
  const HWND edit = ::CreateWindowExA(0, "EDIT", "", WS_CHILD, 0, 0, 10, 10, local.parent(), nullptr,
                                      ::GetModuleHandleA(nullptr), nullptr);
  ListViewWrapper list;
  ASSERT_TRUE(list.Attach(local.list(), true));
  EXPECT_FALSE(list.Attach(edit));
  EXPECT_FALSE(list.Attach(local.parent()));
  EXPECT_FALSE(list.Attach(nullptr));
  EXPECT_EQ(list.ListWindow(), local.list());
  EXPECT_TRUE(list.IsCrossProcess());
  EXPECT_EQ(list.GetWindowClassName(nullptr), "");
  ::DestroyWindow(edit);
  EXPECT_FALSE(list.Attach(edit)) << "a destroyed window";
}

TEST(ListViewAttach, OmittedCrossProcessKeepsTheMode) {
  test::LocalList first, second;
  ListViewWrapper list;
  ASSERT_TRUE(list.Attach(first.list()));
  EXPECT_FALSE(list.IsCrossProcess());
  ASSERT_TRUE(list.Attach(first.list(), true));
  ASSERT_TRUE(list.Attach(second.list()));
  EXPECT_TRUE(list.IsCrossProcess());
  EXPECT_EQ(list.ListWindow(), second.list());
  list.DisableCrossProcess();
  EXPECT_FALSE(list.IsCrossProcess());
  list.EnableCrossProcess();
  EXPECT_TRUE(list.IsCrossProcess());
}

TEST(ListViewAttach, UnattachedWrapperFailsQuietly) {
  ListViewWrapper list;
  EXPECT_EQ(list.InsertItem(std::nullopt, "x"), -1);
  EXPECT_EQ(list.InsertColumn(std::nullopt, "x"), -1);
  EXPECT_EQ(list.GetItemText(0), "");
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.GetColumnCount(), 0);
  EXPECT_EQ(list.GetSelectedItem(), -1);
  EXPECT_EQ(list.ReadRow(0).text, "");
  list.InsertRows(std::nullopt, {ListRow{"x"}}, 1);
  list.EnableCrossProcess();
  EXPECT_EQ(list.InsertItem(std::nullopt, "x"), -1);
  EXPECT_EQ(list.FindItemByText("x"), -1);
}

TEST(ListViewAttach, CloneDrivesTheSameList) {
  test::LocalList local;
  ListViewWrapper list(std::make_unique<ProcessMemoryHelper>(kPlatformWindows));
  ASSERT_TRUE(list.Attach(local.list(), true));
  const std::unique_ptr<ListViewWrapper> copy = list.Clone();
  EXPECT_EQ(copy->ListWindow(), local.list());
  EXPECT_TRUE(copy->IsCrossProcess());
  EXPECT_EQ(copy->Memory().PlatformKind(), kPlatformWindows);
  EXPECT_NE(&copy->Memory(), &list.Memory());
  copy->InsertColumn(std::nullopt, "a");
  copy->InsertItem(std::nullopt, "from the copy");
  EXPECT_EQ(list.GetItemText(0), "from the copy");
}

// --- Method-table order -----------------------------------------------------

#if defined(__GNUC__)
// With the Itanium C++ ABI (MinGW g++) a pointer to a virtual member holds
// 1 + the byte offset of its slot in the method table.
template <class Member>
std::ptrdiff_t Slot(Member member) {
  struct {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
  } raw;
  static_assert(sizeof raw == sizeof member);
  std::memcpy(&raw, &member, sizeof raw);
  return static_cast<std::ptrdiff_t>((raw.pointer - 1) / sizeof(void*));
}

TEST(MethodTable, OperationsKeepTheirOrder) {
  // Slots 0 and 1 are the two destructor entries of this ABI.
  using W = ListViewWrapper;
  const std::ptrdiff_t wrapper[] = {
      Slot(&W::Clone), Slot(&W::Attach), Slot(&W::GetWindowClassName), Slot(&W::GetItemText),
      Slot(&W::GetItemImage), Slot(&W::GetItemCheckState), Slot(&W::GetItemIndent), Slot(&W::GetItemData),
      Slot(&W::SetItemText), Slot(&W::SetItemImage), Slot(&W::SetItemCheckState), Slot(&W::SetItemIndent),
      Slot(&W::SetItemData), Slot(&W::GetSelectedItems), Slot(&W::GetCheckedItems), Slot(&W::GetSelectedCount),
      Slot(&W::IsItemSelected), Slot(&W::SelectItem), Slot(&W::DeselectItem), Slot(&W::GetItemCount),
      Slot(&W::InsertItem), Slot(&W::InsertRows), Slot(&W::SortRows), Slot(&W::DeleteItem),
      Slot(&W::DeleteAllItems), Slot(&W::FindItemByText), Slot(&W::FindItemByData), Slot(&W::EnsureVisible),
      Slot(&W::Arrange), Slot(&W::GetColumnText), Slot(&W::GetColumnAlignment), Slot(&W::GetColumnWidth),
      Slot(&W::GetColumnImage), Slot(&W::IsColumnImageOnRight), Slot(&W::SetColumnText), Slot(&W::SetColumnWidth),
      Slot(&W::SetColumnImage), Slot(&W::GetColumnCount), Slot(&W::InsertColumn), Slot(&W::DeleteColumn),
      Slot(&W::EditLabel), Slot(&W::ReadAllRows), Slot(&W::ReadRow), Slot(&W::GetTextColor),
      Slot(&W::SetTextColor), Slot(&W::RedrawVisibleItems), Slot(&W::GetTopIndex), Slot(&W::GetCountPerPage),
      Slot(&W::GetTextBkColor), Slot(&W::SetTextBkColor), Slot(&W::GetBkColor), Slot(&W::SetBkColor),
      Slot(&W::GetView), Slot(&W::SetView), Slot(&W::GetBkImage), Slot(&W::SetBkImage), Slot(&W::GetHotItem),
      Slot(&W::GetItemSpacing), Slot(&W::GetEditControl), Slot(&W::GetItemSpacingXY), Slot(&W::SortList),
      Slot(&W::SingleSelection), Slot(&W::GetSelectedItem), Slot(&W::SelectSingleItem),
      Slot(&W::EnableCrossProcess), Slot(&W::DisableCrossProcess)};
  ASSERT_EQ(std::size(wrapper), 66u) << "with the destructor, 67 operations";
  for (std::size_t k = 0; k < std::size(wrapper); ++k) EXPECT_EQ(wrapper[k], static_cast<std::ptrdiff_t>(k + 2));

  using M = ProcessMemoryHelper;
  const std::ptrdiff_t memory[] = {Slot(&M::Clone),       Slot(&M::OpenWindowProcess), Slot(&M::WriteMemory),
                                   Slot(&M::CloseProcess), Slot(&M::ReadMemory),        Slot(&M::AllocateMemory),
                                   Slot(&M::FreeMemory)};
  for (std::size_t k = 0; k < std::size(memory); ++k) EXPECT_EQ(memory[k], static_cast<std::ptrdiff_t>(k + 2));
}
#endif

}  // namespace
}  // namespace qv
