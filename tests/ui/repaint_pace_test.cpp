// The repaint pace: held components keep their content, and the flush
// leaves exactly what may look different to be painted.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/main_window.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

class RepaintPaceTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    list_ = H(Component::超级列表框1);
    for (int row = 0; row < kFilled; ++row) InsertRow(row);
    PaintEverything();
  }

  void InsertRow(int at) {
    std::string text = "10.0.0." + std::to_string(at);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = at;
    item.pszText = text.data();
    const int row = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMA cell{};
    cell.iItem = row;
    cell.iSubItem = 2;
    cell.mask = LVIF_TEXT;
    cell.pszText = text.data();
    SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&cell));
  }

  void PaintEverything() {
    PumpUntil([&] { return !GetUpdateRect(list_, nullptr, FALSE); }, 3000, window_.get());
  }

  // The bounding box of what waits to be painted; empty when nothing does.
  RECT Pending(HWND control) const {
    RECT box{};
    if (!GetUpdateRect(control, &box, FALSE)) return RECT{};
    return box;
  }

  RECT Client() const {
    RECT box{};
    GetClientRect(list_, &box);
    return box;
  }

  int RowTop(int row) const {
    RECT box{};
    box.left = LVIR_BOUNDS;
    SendMessageA(list_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&box));
    return box.top;
  }

  int ScrollRows() const {
    SCROLLINFO range{sizeof range, SIF_RANGE};
    return GetScrollInfo(list_, SB_VERT, &range) ? range.nMax + 1 : 0;
  }

  static constexpr int kFilled = 100;  // several pages
  HWND list_ = nullptr;
};

TEST_F(RepaintPaceTest, RowsAddedBelowThePageRepaintOnlyTheScrollBars) {
  window_->DeferRepaint(Component::超级列表框1);
  for (int row = kFilled; row < 2 * kFilled; ++row) InsertRow(row);
  EXPECT_EQ(window_->ItemCount(), 2 * kFilled) << "the content is current while held";
  window_->RepaintDeferred();
  const RECT pending = Pending(list_);
  EXPECT_TRUE(IsRectEmpty(&pending));
  EXPECT_EQ(ScrollRows(), 2 * kFilled);
}

TEST_F(RepaintPaceTest, ARowAddedOnThePageRepaintsFromItsPlaceDown) {
  window_->DeferRepaint(Component::超级列表框1);
  InsertRow(kFilled);  // below the page
  InsertRow(3);
  window_->RepaintDeferred();
  const RECT pending = Pending(list_);
  const RECT client = Client();
  EXPECT_EQ(pending.top, RowTop(3));
  EXPECT_EQ(pending.bottom, client.bottom);
  EXPECT_EQ(pending.right, client.right);
}

// What the pace cannot follow row by row: a deletion, a paint the held list
// skipped (another window uncovered it), a bulk insert switching redrawing
// back on, a click that moves the selection.
// The pace's own tick: what shows on the page is painted at once.
TEST_F(RepaintPaceTest, ATickPaintsRowsChangedOnThePageAndTheBars) {
  window_->DeferRepaint(Component::超级列表框1);
  window_->DeferRepaint(Component::状态条1);
  InsertRow(5);
  window_->SetStatusText(2, "存活主机数：101");
  SendMessageA(window_->Handle(), WM_TIMER, RepaintPace::kTimerId, 0);
  const RECT pending = Pending(list_);
  EXPECT_EQ(pending.top, RowTop(5));
  EXPECT_EQ(ScrollRows(), kFilled + 1);
  EXPECT_TRUE(GetUpdateRect(H(Component::状态条1), nullptr, FALSE));
}

TEST_F(RepaintPaceTest, AnyOtherChangeWhileHeldRepaintsTheWholeList) {
  const auto changes = {
      +[](HWND list) { SendMessageA(list, LVM_DELETEITEM, 0, 0); },
      +[](HWND list) {
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
      },
      +[](HWND list) { SendMessageA(list, WM_SETREDRAW, TRUE, 0); },
      +[](HWND list) {
        SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 60));
        SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(40, 60));
      },
  };
  int index = 0;
  for (const auto change : changes) {
    SCOPED_TRACE(index++);
    window_->DeferRepaint(Component::超级列表框1);
    change(list_);
    window_->RepaintDeferred();
    const RECT pending = Pending(list_);
    const RECT client = Client();
    EXPECT_EQ(pending.top, client.top);
    EXPECT_EQ(pending.bottom, client.bottom);
    PaintEverything();
  }
}

TEST_F(RepaintPaceTest, HeldBarsKeepTheirContentAndAreRepaintedAtTheFlush) {
  const HWND status = H(Component::状态条1);
  const HWND progress = H(Component::进度条1);
  PumpUntil([&] { return !GetUpdateRect(status, nullptr, FALSE) && !GetUpdateRect(progress, nullptr, FALSE); }, 3000,
            window_.get());
  window_->DeferRepaint(Component::状态条1);
  window_->SetStatusText(1, "线程： 7");
  window_->SetProgress(40);
  EXPECT_EQ(StatusPartText(status, 1), "线程： 7");
  EXPECT_EQ(SendMessageA(progress, PBM_GETPOS, 0, 0), 40);
  window_->RepaintDeferred();
  EXPECT_TRUE(GetUpdateRect(status, nullptr, FALSE));
  EXPECT_TRUE(GetUpdateRect(progress, nullptr, FALSE));
}

}  // namespace
}  // namespace qv::test
