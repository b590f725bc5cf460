// Component operations as the handlers and the scan call them, with the
// texts read back from the controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/main_window.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

using OperationsTest = MainWindowTest;

// A long text of mixed single- and double-byte characters.
std::string LongText(std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += "局域网scan扫描";
  return text;
}

void InsertRow(HWND list, int row, const std::string& first, const std::string& second) {
  std::wstring firstText = WideFromGbk(first), secondText = WideFromGbk(second);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = firstText.data();
  ASSERT_EQ(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), row);
  item.iSubItem = 1;
  item.pszText = secondText.data();
  ASSERT_TRUE(SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
}

TEST_F(OperationsTest, AddressWriteAcceptsOnlyFourNumbersFrom0To255) {
  const struct {
    const char* written;
    const char* read;
  } cases[] = {
      {"10.0.0.1", "10.0.0.1"},
      {"  192.168.1.255\t", "192.168.1.255"},
      {" 10 . 0 .\t0 . 1 ", "10.0.0.1"},  // every part is trimmed
      {"0.0.0.0", "0.0.0.0"},
      {"010.001.000.9", "10.1.0.9"},  // decimal, never octal
      {"+1.2.3.+4", "1.2.3.4"},
      {"１０．０．０．２５５", "10.0.0.255"},  // full-width forms count as ASCII
      {"10.0.0.256", ""},
      {"10.0.0", ""},
      {"1.2.3.4.5", ""},
      {"1..2.3", ""},
      {"1.2.3.", ""},
      {"-1.2.3.4", ""},
      {"-0.1.2.3", ""},
      {"1a.2.3.4", ""},
      {"1.2.3.4x", ""},
      {"99999999999.1.1.1", ""},
      {"4294967297.1.1.1", ""},
      {"a.b.c.d", ""},
      {"", ""},
      {"扫描.1.1.1", ""},
  };
  for (Component field : {Component::IP编辑框_开始, Component::IP编辑框_结束}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(Describe(field).name) + " <- \"" + c.written + "\"");
      window_->WriteAddress(field, "8.8.4.4");  // a refused text must empty a filled field
      window_->WriteAddress(field, c.written);
      EXPECT_EQ(window_->ReadAddress(field), c.read);
      EXPECT_EQ(SendMessageA(H(field), IPM_ISBLANK, 0, 0) != 0, *c.read == '\0');
    }
  }
}

TEST_F(OperationsTest, AddressReadCountsEmptyFieldsAsZero) {
  HWND address = H(Component::IP编辑框_开始);
  EXPECT_EQ(window_->ReadAddress(Component::IP编辑框_开始), "") << "all four fields empty";
  HWND first = GetWindow(address, GW_CHILD);
  HWND third = GetWindow(GetWindow(first, GW_HWNDNEXT), GW_HWNDNEXT);
  SetWindowTextA(first, "172");
  EXPECT_EQ(window_->ReadAddress(Component::IP编辑框_开始), "172.0.0.0");
  SetWindowTextA(third, "9");
  EXPECT_EQ(window_->ReadAddress(Component::IP编辑框_开始), "172.0.9.0");
}

TEST_F(OperationsTest, StatusPartsOutside0To2AreIgnored) {
  HWND bar = H(Component::状态条1);
  window_->SetStatusText(1, "线程： 3");
  window_->SetStatusText(2, "存活主机数：12");
  window_->SetStatusText(0, "正在扫描...");
  for (int part : {-1, 3, 255, 256 + 1}) window_->SetStatusText(part, "wrong");
  EXPECT_EQ(SendMessageA(bar, SB_GETPARTS, 0, 0), 3);
  EXPECT_EQ(StatusPartText(bar, 0), "正在扫描...");
  EXPECT_EQ(StatusPartText(bar, 1), "线程： 3");
  EXPECT_EQ(StatusPartText(bar, 2), "存活主机数：12");
  EXPECT_EQ(HIWORD(SendMessageA(bar, SB_GETTEXTLENGTHW, 1, 0)), 0) << "normal border kept";
}

TEST_F(OperationsTest, ProgressIsClampedToItsRange) {
  HWND bar = H(Component::进度条1);
  const struct {
    int set, shown;
  } cases[] = {{97, 97}, {0, 0}, {100, 100}, {150, 100}, {-20, 0}, {INT_MIN, 0}, {INT_MAX, 100}};
  for (const auto& c : cases) {
    window_->SetProgress(c.set);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), c.shown) << c.set;
  }
}

TEST_F(OperationsTest, ListItemsReadWholeAndMissingCellsReadEmpty) {
  HWND list = H(Component::超级列表框1);
  const std::string longCell = LongText(20000);
  InsertRow(list, 0, "192.168.1.005", longCell);
  InsertRow(list, 1, "192.168.1.007", "");
  EXPECT_EQ(window_->ItemCount(), 2);
  EXPECT_EQ(window_->ItemText(0), "192.168.1.005");
  EXPECT_EQ(window_->ItemText(0, 1), longCell);
  EXPECT_EQ(window_->ItemText(1, 0), "192.168.1.007");
  EXPECT_EQ(window_->ItemText(1, 1), "");
  EXPECT_EQ(window_->ItemText(1, 3), "");
  for (auto [row, column] : {std::pair{2, 0}, {-1, 0}, {0, 4}, {0, -1}, {1000000, 1}})
    EXPECT_EQ(window_->ItemText(row, column), "") << row << "," << column;

  // Texts whose length puts a double-byte character across the buffer's end.
  for (std::size_t length : {258u, 259u, 260u, 261u, 519u, 520u}) {
    std::string cell(length - 2, 'x');
    cell += "网";
    InsertRow(list, 2, cell, "");
    EXPECT_EQ(window_->ItemText(2), cell) << length;
    SendMessageA(list, LVM_DELETEITEM, 2, 0);
  }
  window_->DeleteAllItems();
  EXPECT_EQ(window_->ItemCount(), 0);
  EXPECT_EQ(window_->ItemText(0), "");
}

TEST_F(OperationsTest, VeryLongTextsDoNotBreakAnyField) {
  const std::string text = LongText(12000);
  for (Component edit : {Component::编辑框_线程数, Component::编辑框_延时}) {
    window_->WriteContent(edit, text);
    EXPECT_EQ(window_->ReadContent(edit), text) << Describe(edit).name;
  }
  HWND bar = H(Component::状态条1);
  for (int part = 0; part < 3; ++part) {
    window_->SetStatusText(part, text);
    EXPECT_EQ(StatusPartText(bar, part), text) << part;
  }
  window_->WriteAddress(Component::IP编辑框_开始, text);
  EXPECT_EQ(window_->ReadAddress(Component::IP编辑框_开始), "");
  RedrawWindow(window_->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  EXPECT_TRUE(IsWindow(window_->Handle()));
}

// What the operator types arrives as UTF-16 whatever the system's code page
// (an input method's full-width digits included) and is read as GBK; bytes
// that are no GBK character still read back as some text, the rest intact.
TEST_F(OperationsTest, TypedAndOddTextsReadBackAsGbk) {
  HWND edit = H(Component::编辑框_线程数);
  window_->WriteContent(Component::编辑框_线程数, "");
  for (const wchar_t typed : {L'\uFF11', L'\uFF12', L'7'}) SendMessageW(edit, WM_CHAR, typed, 1);
  EXPECT_EQ(window_->ReadContent(Component::编辑框_线程数), "\xA3\xB1\xA3\xB2" "7");

  HWND list = H(Component::超级列表框1);
  InsertRow(list, 0, "\x80\xFF ok", "\x81");
  const std::string cell = window_->ItemText(0);
  ASSERT_GE(cell.size(), 3u);
  EXPECT_EQ(cell.substr(cell.size() - 3), " ok");
  EXPECT_FALSE(window_->ItemText(0, 1).empty());
  window_->DeleteAllItems();
}

TEST_F(OperationsTest, CaptionAndHandles) {
  EXPECT_EQ(window_->Caption(), "Quorvane V2.2");
  EXPECT_EQ(ClassOf(window_->Handle(Component::超级列表框1)), "SysListView32");
  EXPECT_EQ(WindowText(window_->Handle(Component::标签)), "线程数：");
  EXPECT_EQ(window_->Handle(Component::Window), window_->Handle());
  // Operations on the wrong kind of component do nothing.
  window_->WriteContent(Component::按钮2, "x");
  EXPECT_EQ(WindowText(H(Component::按钮2)), "停止");
  EXPECT_EQ(window_->ReadContent(Component::标签), "");
  EXPECT_EQ(window_->ReadAddress(Component::编辑框_延时), "");
}

}  // namespace
}  // namespace qv::test
