// Focus and keys: the Tab cycle across the group box's border, the start
// focus, and the focus coming back when the window is activated again.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "ui/main_window.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

using KeyboardTest = MainWindowTest;

const std::vector<Component> kCycle = {
    Component::超级列表框1, Component::IP编辑框_开始, Component::按钮_开始扫描, Component::编辑框_线程数,
    Component::IP编辑框_结束, Component::按钮2,       Component::编辑框_延时,   Component::按钮_导出,
};

// The component holding the focus; an address field holds it in an inner edit.
HWND FocusedComponent(const MainWindow& window) {
  for (HWND h = GetFocus(); h && h != window.Handle(); h = GetParent(h))
    for (Component c : kCycle)
      if (window.Handle(c) == h) return h;
  return GetFocus();
}

bool FocusReaches(MainWindow& window, Component expected) {
  return PumpUntil([&] { return FocusedComponent(window) == window.Handle(expected); }, 2000, &window);
}

HWND InnerField(HWND address, int index) {
  HWND field = GetWindow(address, GW_CHILD);
  for (int i = 0; i < index && field; ++i) field = GetWindow(field, GW_HWNDNEXT);
  return field;
}

TEST_F(KeyboardTest, FocusStartsInTheList) { EXPECT_EQ(GetFocus(), H(Component::超级列表框1)); }

TEST_F(KeyboardTest, TabRunsTheCycleForwardAndBackAround) {
  for (std::size_t i = 1; i <= kCycle.size(); ++i) {
    const Component next = kCycle[i % kCycle.size()];
    PressKey(*window_, VK_TAB);
    ASSERT_TRUE(FocusReaches(*window_, next)) << "Tab to " << Describe(next).name;
  }
  for (std::size_t i = kCycle.size(); i-- > 0;) {
    PressKey(*window_, VK_TAB, /*shift=*/true);
    ASSERT_TRUE(FocusReaches(*window_, kCycle[i])) << "Shift+Tab to " << Describe(kCycle[i]).name;
  }
}

TEST_F(KeyboardTest, TabSkipsHiddenAndDisabledComponents) {
  EnableWindow(H(Component::按钮_开始扫描), FALSE);
  ShowWindow(H(Component::编辑框_线程数), SW_HIDE);
  SetFocus(H(Component::IP编辑框_开始));
  PressKey(*window_, VK_TAB);
  EXPECT_TRUE(FocusReaches(*window_, Component::IP编辑框_结束));
  PressKey(*window_, VK_TAB, true);
  EXPECT_TRUE(FocusReaches(*window_, Component::IP编辑框_开始));
}

TEST_F(KeyboardTest, TabInsideAnAddressFieldLeavesTheWholeControl) {
  HWND third = InnerField(H(Component::IP编辑框_开始), 2);
  ASSERT_NE(third, nullptr);
  SetFocus(third);
  ASSERT_EQ(GetFocus(), third);
  PressKey(*window_, VK_TAB);
  EXPECT_TRUE(FocusReaches(*window_, Component::按钮_开始扫描));

  SetFocus(InnerField(H(Component::IP编辑框_结束), 1));
  PressKey(*window_, VK_TAB, true);
  EXPECT_TRUE(FocusReaches(*window_, Component::编辑框_线程数));
}

TEST_F(KeyboardTest, ActivationGivesTheFocusBackWhereItWas) {
  SetFocus(H(Component::按钮2));
  ASSERT_EQ(GetFocus(), H(Component::按钮2));
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetActiveWindow(other);
  ASSERT_TRUE(PumpUntil([&] { return GetActiveWindow() == other; }, 2000)) << "the other window did not activate";
  EXPECT_NE(GetFocus(), H(Component::按钮2));
  SetActiveWindow(window_->Handle());
  EXPECT_TRUE(FocusReaches(*window_, Component::按钮2));
  DestroyWindow(other);
}

}  // namespace
}  // namespace qv::test
