// The window as built: every component read back from the real windows and
// compared with the layout as the operator must see it, at the system DPI
// the test finds (the design's values are at 96 DPI; CTest runs this at 96
// and again at 144).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "ui/main_window.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

using LayoutTest = MainWindowTest;

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

struct Expected {
  Component id;
  const char* className;
  bool inGroup;
  POINT position;        // in the parent's client area
  POINT windowPosition;  // in the main window's client area
  SIZE size;
  const char* text;
  bool tabStop;
};

// Stacking order, top first, as the operator's layout gives it; at 96 DPI.
const Expected kExpected[] = {
    {Component::进度条1, "msctls_progress32", false, {392, 568}, {392, 568}, {184, 20}, "", false},
    {Component::按钮_导出, "Button", true, {478, 59}, {481, 58}, {60, 32}, "导出", true},
    {Component::标签3, "QuorvaneLabel", true, {176, 62}, {179, 61}, {32, 24}, "超时：", false},
    {Component::编辑框_延时, "Edit", true, {223, 65}, {226, 64}, {35, 20}, "100", true},
    {Component::按钮2, "Button", true, {375, 59}, {378, 58}, {60, 32}, "停止", true},
    {Component::标签, "QuorvaneLabel", true, {41, 62}, {44, 61}, {45, 24}, "线程数：", false},
    {Component::IP编辑框_结束, "SysIPAddress32", true, {356, 25}, {359, 24}, {185, 20}, nullptr, true},
    {Component::编辑框_线程数, "Edit", true, {101, 65}, {104, 64}, {26, 20}, "100", true},
    {Component::标签2, "QuorvaneLabel", true, {321, 24}, {324, 23}, {24, 24}, "-", false},
    {Component::标签1, "QuorvaneLabel", true, {37, 25}, {40, 24}, {54, 24}, "IP地址从：", false},
    {Component::按钮_开始扫描, "Button", true, {279, 59}, {282, 58}, {60, 32}, "开始", true},
    {Component::IP编辑框_开始, "SysIPAddress32", true, {120, 26}, {123, 25}, {179, 20}, nullptr, true},
    {Component::超级列表框1, "SysListView32", false, {1, 103}, {1, 103}, {576, 465}, nullptr, true},
    {Component::分组框1, "Button", false, {3, -1}, {3, -1}, {573, 105}, "", false},
};

std::vector<HWND> ChildrenTopFirst(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

LONG Style(HWND window) { return GetWindowLongA(window, GWL_STYLE); }
LONG ExStyle(HWND window) { return GetWindowLongA(window, GWL_EXSTYLE); }

TEST_F(LayoutTest, MainWindowFrameCaptionAndPlace) {
  HWND main = window_->Handle();
  EXPECT_EQ(window_->Caption(), "Quorvane V2.2");
  EXPECT_EQ(WindowText(main), "Quorvane V2.2");
  RECT outer{};
  GetWindowRect(main, &outer);
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  EXPECT_AT_DPI(width, 585);
  EXPECT_AT_DPI(height, 616);
  EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

  const LONG style = Style(main);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME) << "the window must not be resizable";
  EXPECT_FALSE(style & WS_CHILD);
  EXPECT_TRUE(ExStyle(main) & WS_EX_APPWINDOW) << "taskbar button";
  EXPECT_FALSE(ExStyle(main) & WS_EX_TOPMOST);
  EXPECT_EQ(GetMenu(main), nullptr);
  EXPECT_EQ(GetClassLongPtrA(main, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(main, WM_GETFONT, 0, 0)), GuiFont());
  EXPECT_TRUE(IsWindowVisible(main));
}

TEST_F(LayoutTest, IconIsOne16By16ImageOf32BitsScaledByTheDpi) {
  for (WPARAM kind : {ICON_SMALL, ICON_BIG}) {
    auto icon = reinterpret_cast<HICON>(SendMessageA(window_->Handle(), WM_GETICON, kind, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_AT_DPI(colour.bmWidth, 16);
    EXPECT_AT_DPI(colour.bmHeight, 16);
    EXPECT_EQ(colour.bmBitsPixel, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
}

TEST_F(LayoutTest, ComponentsHaveTheirClassParentRectangleTextAndFont) {
  HWND main = window_->Handle();
  HWND group = H(Component::分组框1);
  for (const Expected& e : kExpected) {
    HWND component = H(e.id);
    SCOPED_TRACE(Describe(e.id).name);
    ASSERT_NE(component, nullptr);
    EXPECT_STRCASEEQ(ClassOf(component).c_str(), e.className);
    EXPECT_EQ(GetParent(component), e.inGroup ? group : main);
    const RECT inParent = RectIn(component, GetParent(component));
    EXPECT_AT_DPI(inParent.left, e.position.x);
    EXPECT_AT_DPI(inParent.top, e.position.y);
    EXPECT_AT_DPI(inParent.right - inParent.left, e.size.cx);
    EXPECT_AT_DPI(inParent.bottom - inParent.top, e.size.cy);
    const RECT inWindow = RectIn(component, main);
    EXPECT_AT_DPI(inWindow.left, e.windowPosition.x);
    EXPECT_AT_DPI(inWindow.top, e.windowPosition.y);
    if (e.text) {
      EXPECT_EQ(WindowText(component), e.text);
    }
    EXPECT_EQ((Style(component) & WS_TABSTOP) != 0, e.tabStop);
    EXPECT_TRUE(IsWindowVisible(component));
    EXPECT_TRUE(IsWindowEnabled(component));
    if (Describe(e.id).kind == Kind::AddressField) {
      // Its text is shown by its four inner fields.
      for (HWND field = GetWindow(component, GW_CHILD); field; field = GetWindow(field, GW_HWNDNEXT))
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(field, WM_GETFONT, 0, 0)), GuiFont());
    } else {
      EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(component, WM_GETFONT, 0, 0)), GuiFont());
    }
  }
  EXPECT_EQ(H(Component::通用对话框1), nullptr) << "the dialog component has no window";
  EXPECT_EQ(window_->SaveDialog().FileName(), WideFromGbk("局域网扫描记录"));
}

// How far the ink of a text reaches, drawn in the font the window gives it.
// Ink, not advance: a label's full-width colon ends in blank space that the
// design already lets run past the label's edge.
SIZE InkExtent(HWND window, const std::wstring& text) {
  const WindowDcScope screen(nullptr);
  HDC memory = CreateCompatibleDC(screen.dc());
  SIZE advance{};
  SIZE ink{};
  {
    const SelectScope font(memory, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32W(memory, text.c_str(), static_cast<int>(text.size()), &advance);
    HBITMAP bitmap = CreateCompatibleBitmap(screen.dc(), advance.cx + 8, advance.cy);
    {
      const SelectScope canvas(memory, bitmap);
      const RECT all{0, 0, advance.cx + 8, advance.cy};
      FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      SetTextColor(memory, RGB(0, 0, 0));
      SetBkMode(memory, TRANSPARENT);
      TextOutW(memory, 0, 0, text.c_str(), static_cast<int>(text.size()));
      for (int y = 0; y < all.bottom; ++y)
        for (int x = 0; x < all.right; ++x)
          if (GetPixel(memory, x, y) != RGB(255, 255, 255)) {
            ink.cx = std::max<LONG>(ink.cx, x + 1);
            ink.cy = std::max<LONG>(ink.cy, y + 1);
          }
    }
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  return ink;
}

// The font follows the system DPI by itself and the rectangles by the
// scaling: at any DPI no text may be cut.
TEST_F(LayoutTest, EveryTextFitsItsComponent) {
  for (const Expected& e : kExpected) {
    if (!e.text || !*e.text) continue;
    SCOPED_TRACE(Describe(e.id).name);
    RECT client{};
    GetClientRect(H(e.id), &client);
    const SIZE extent = InkExtent(H(e.id), WideFromGbk(e.text));
    EXPECT_LE(extent.cx, client.right);
    EXPECT_LE(extent.cy, client.bottom);
  }
  HWND header = reinterpret_cast<HWND>(SendMessageA(H(Component::超级列表框1), LVM_GETHEADER, 0, 0));
  for (int i = 0; i < 4; ++i) {
    RECT item{};
    ASSERT_TRUE(SendMessageW(header, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item)));
    const SIZE extent = InkExtent(header, WideFromGbk(kListColumns[i].title));
    EXPECT_LE(extent.cx, item.right - item.left) << kListColumns[i].title;
    EXPECT_LE(extent.cy, item.bottom - item.top) << kListColumns[i].title;
  }
  HWND bar = H(Component::状态条1);
  RECT part{};
  ASSERT_TRUE(SendMessageW(bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part)));
  const SIZE extent = InkExtent(bar, WideFromGbk(kStatusInitialText));
  EXPECT_LE(extent.cx, part.right - part.left);
  EXPECT_LE(extent.cy, part.bottom - part.top);
}

TEST_F(LayoutTest, StackingPutsTheProgressBarAboveTheStatusBar) {
  std::vector<HWND> expectedWindow, expectedGroup;
  for (const Expected& e : kExpected)
    (e.inGroup ? expectedGroup : expectedWindow).push_back(H(e.id));
  // The status bar docks at the bottom; in stacking it lies between the
  // address field and the worker-count field, i.e. after every group child.
  expectedWindow.insert(expectedWindow.begin() + 1, H(Component::状态条1));
  EXPECT_EQ(ChildrenTopFirst(window_->Handle()), expectedWindow);

  std::vector<HWND> group = ChildrenTopFirst(H(Component::分组框1));
  std::erase_if(group, [](HWND h) { return ClassOf(h) == "msctls_updown32"; });
  EXPECT_EQ(group, expectedGroup);
}

TEST_F(LayoutTest, LabelsAndGroupBoxStyles) {
  EXPECT_EQ(Style(H(Component::分组框1)) & BS_TYPEMASK, BS_GROUPBOX);
  for (Component label : {Component::标签1, Component::标签2, Component::标签, Component::标签3}) {
    EXPECT_EQ(ExStyle(H(label)) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE | WS_EX_WINDOWEDGE), 0);
    EXPECT_FALSE(Style(H(label)) & WS_BORDER);
  }
  for (Component button : {Component::按钮_开始扫描, Component::按钮2, Component::按钮_导出}) {
    SCOPED_TRACE(Describe(button).name);
    EXPECT_EQ(Style(H(button)) & BS_TYPEMASK, BS_PUSHBUTTON) << "none is the default button";
    EXPECT_EQ(Style(H(button)) & (BS_CENTER | BS_VCENTER), BS_CENTER | BS_VCENTER);
    EXPECT_FALSE(Style(H(button)) & (BS_BITMAP | BS_ICON));
  }
}

TEST_F(LayoutTest, EditFieldsAcceptAnyTextOnOneScrollingLine) {
  for (Component edit : {Component::编辑框_线程数, Component::编辑框_延时}) {
    SCOPED_TRACE(Describe(edit).name);
    const LONG style = Style(H(edit));
    EXPECT_TRUE(style & ES_AUTOHSCROLL);
    EXPECT_EQ(style & (ES_CENTER | ES_RIGHT | ES_MULTILINE | ES_PASSWORD | ES_READONLY | ES_UPPERCASE |
                       ES_LOWERCASE | ES_NUMBER | ES_NOHIDESEL),
              0);
    EXPECT_TRUE(ExStyle(H(edit)) & WS_EX_CLIENTEDGE);
    DWORD start = 99, end = 99;
    SendMessageA(H(edit), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (GetFocus() != H(edit)) {
      EXPECT_EQ(start, 0u);
      EXPECT_EQ(end, 0u);
    }
  }
}

TEST_F(LayoutTest, SpinArrowsStandAgainstTheWorkerCountField) {
  HWND group = H(Component::分组框1);
  HWND spin = nullptr;
  for (HWND child : ChildrenTopFirst(group))
    if (ClassOf(child) == "msctls_updown32") spin = child;
  ASSERT_NE(spin, nullptr);
  const RECT inGroup = RectIn(spin, group);
  EXPECT_AT_DPI(inGroup.left, 127);
  EXPECT_AT_DPI(inGroup.top, 65);
  EXPECT_AT_DPI(inGroup.right - inGroup.left, 18);
  EXPECT_AT_DPI(inGroup.bottom - inGroup.top, 20);
  EXPECT_EQ(inGroup.left, RectIn(H(Component::编辑框_线程数), group).right) << "against the field's right edge";
  const RECT inWindow = RectIn(spin, window_->Handle());
  EXPECT_AT_DPI(inWindow.left, 130);
  EXPECT_AT_DPI(inWindow.top, 64);
  EXPECT_EQ(SendMessageA(spin, UDM_GETBUDDY, 0, 0), 0);
  EXPECT_EQ(Style(spin) & (UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_WRAP | UDS_HORZ), 0);
  EXPECT_TRUE(ExStyle(spin) & WS_EX_STATICEDGE);
  int low = -1, high = -1;
  SendMessageA(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 100);
  EXPECT_TRUE(IsWindowVisible(spin));

  // It follows its field.
  HWND edit = H(Component::编辑框_线程数);
  ShowWindow(edit, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(spin));
  ShowWindow(edit, SW_SHOWNA);
  EXPECT_TRUE(IsWindowVisible(spin));
  EnableWindow(edit, FALSE);
  EXPECT_FALSE(IsWindowEnabled(spin));
  EnableWindow(edit, TRUE);
  SetWindowPos(edit, nullptr, 90, 60, 30, 22, SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT moved = RectIn(spin, group);
  EXPECT_EQ(moved.left, 120);
  EXPECT_EQ(moved.top, 60);
  EXPECT_EQ(moved.bottom - moved.top, 22);
  EXPECT_AT_DPI(moved.right - moved.left, 18);
}

TEST_F(LayoutTest, ReportListColumnsStylesAndImages) {
  HWND list = H(Component::超级列表框1);
  const LONG style = Style(list);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_TRUE(style & LVS_SINGLESEL);
  EXPECT_EQ(style & (LVS_SHOWSELALWAYS | LVS_EDITLABELS | LVS_SORTASCENDING | LVS_SORTDESCENDING |
                     LVS_NOSORTHEADER | LVS_NOCOLUMNHEADER),
            0);
  EXPECT_TRUE(ExStyle(list) & WS_EX_CLIENTEDGE);
  const auto extended = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  EXPECT_EQ(extended & (LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES |
                        LVS_EX_CHECKBOXES | LVS_EX_TRACKSELECT | LVS_EX_HEADERDRAGDROP),
            static_cast<DWORD>(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES));
  EXPECT_EQ(SendMessageA(list, LVM_GETTEXTCOLOR, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(SendMessageA(list, LVM_GETTEXTBKCOLOR, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(SendMessageA(list, LVM_GETBKCOLOR, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(window_->ItemCount(), 0);

  const struct {
    const char* title;
    int width;
  } columns[] = {{"IP地址", 150}, {"主机名称", 150}, {"MAC地址", 150}, {"耗时(毫秒)", 100}};
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  EXPECT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    wchar_t title[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.pszText = title;
    column.cchTextMax = static_cast<int>(std::size(title));
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_EQ(std::wstring(title), WideFromGbk(columns[i].title));
    EXPECT_AT_DPI(column.cx, columns[i].width);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    EXPECT_FALSE(column.fmt & (LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT));
  }

  auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(images), 2);
  int cx = 0, cy = 0;
  ImageList_GetIconSize(images, &cx, &cy);
  EXPECT_AT_DPI(cx, 16);
  EXPECT_AT_DPI(cy, 16);
  IMAGEINFO info{};
  ASSERT_TRUE(ImageList_GetImageInfo(images, 1, &info));
  BITMAP bits{};
  GetObjectA(info.hbmImage, sizeof bits, &bits);
  EXPECT_EQ(bits.bmBitsPixel, 32);
  EXPECT_NE(info.hbmMask, nullptr);
  EXPECT_EQ(ImageList_GetBkColor(images), RGB(255, 255, 255)) << "the images stand on white";
  EXPECT_EQ(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_STATE, 0), 0);
}

// The list's client area as it paints itself, read pixel by pixel.
class PaintedList {
 public:
  explicit PaintedList(HWND list) : screen_(GetDC(nullptr)) {
    RECT client{};
    GetClientRect(list, &client);
    memory_ = CreateCompatibleDC(screen_);
    bitmap_ = CreateCompatibleBitmap(screen_, client.right, client.bottom);
    previous_ = SelectObject(memory_, bitmap_);
    SendMessageA(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory_), PRF_CLIENT | PRF_ERASEBKGND);
  }
  PaintedList(const PaintedList&) = delete;
  PaintedList& operator=(const PaintedList&) = delete;
  ~PaintedList() {
    SelectObject(memory_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(memory_);
    ReleaseDC(nullptr, screen_);
  }
  COLORREF At(POINT point) const { return GetPixel(memory_, point.x, point.y); }

 private:
  HDC screen_;
  HDC memory_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
};

// The images' transparent pixels (the monitor's whole top line is one) show
// white, in a selected row of the focused list as in any other.
TEST_F(LayoutTest, RowImagesStandOnWhite) {
  HWND list = H(Component::超级列表框1);
  for (int row = 0; row < 2; ++row) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = const_cast<char*>("10.0.0.1");
    item.iImage = 0;
    ASSERT_EQ(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)), row);
  }
  LVITEMA selected{};
  selected.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  selected.state = LVIS_SELECTED | LVIS_FOCUSED;
  ASSERT_TRUE(SendMessageA(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&selected)));
  SetFocus(list);
  ASSERT_EQ(GetFocus(), list);
  const PaintedList painted(list);
  for (int row = 0; row < 2; ++row) {
    SCOPED_TRACE(row == 1 ? "selected row" : "unselected row");
    RECT icon{};
    icon.left = LVIR_ICON;
    ASSERT_TRUE(SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&icon)));
    int size = 0, ignored = 0;
    ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0)), &size,
                          &ignored);
    const int last = size - 1;
    for (const POINT at : {POINT{icon.left, icon.top}, POINT{icon.left + 8, icon.top}, POINT{icon.left + last, icon.top}})
      EXPECT_EQ(painted.At(at), RGB(255, 255, 255)) << "at " << at.x - icon.left << ", " << at.y - icon.top;
  }
}

TEST_F(LayoutTest, StatusBarDocksAtTheBottomWithThreeParts) {
  HWND bar = H(Component::状态条1);
  const LONG style = Style(bar);
  EXPECT_EQ(style & CCS_BOTTOM, CCS_BOTTOM);
  EXPECT_FALSE(style & SBARS_SIZEGRIP);
  RECT client{};
  GetClientRect(window_->Handle(), &client);
  const RECT box = RectIn(bar, window_->Handle());
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, client.right);
  EXPECT_EQ(box.bottom, client.bottom);

  int edges[8] = {};
  ASSERT_EQ(SendMessageA(bar, SB_GETPARTS, 8, reinterpret_cast<LPARAM>(edges)), 3);
  EXPECT_AT_DPI(edges[0], 130);
  EXPECT_AT_DPI(edges[1], 290);
  EXPECT_AT_DPI(edges[2], 390);
  const char* texts[] = {"准备就绪", "", ""};
  for (int part = 0; part < 3; ++part) {
    wchar_t text[64] = {};
    const LRESULT result = SendMessageW(bar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), WideFromGbk(texts[part]));
    EXPECT_EQ(HIWORD(result), 0) << "normal sunken border";
  }
}

TEST_F(LayoutTest, ProgressBarIsSmoothEmptyAndCoversTheBarsFreeEnd) {
  HWND bar = H(Component::进度条1);
  EXPECT_TRUE(Style(bar) & PBS_SMOOTH);
  EXPECT_FALSE(Style(bar) & PBS_VERTICAL);
  EXPECT_TRUE(ExStyle(bar) & WS_EX_STATICEDGE);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  // The list ends where the progress bar begins, at any DPI.
  const RECT list = RectIn(H(Component::超级列表框1), window_->Handle());
  EXPECT_AT_DPI(list.bottom, 568);
  EXPECT_EQ(list.bottom, RectIn(bar, window_->Handle()).top);
}

}  // namespace
}  // namespace qv::test
