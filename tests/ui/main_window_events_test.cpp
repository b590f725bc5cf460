// Events raised to the bound handlers: when, how often, with which arguments
// and on which thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "ui/app_messages.h"
#include "ui/main_window.h"
#include "window_test_support.h"

namespace qv::test {
namespace {

using EventsTest = MainWindowTest;

HWND SpinOf(const MainWindow& window) {
  for (HWND child = GetWindow(window.Handle(Component::分组框1), GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT))
    if (ClassOf(child) == "msctls_updown32") return child;
  return nullptr;
}

// A mouse press and release at a point of a control's client area, as the
// control receives them.
void Click(HWND control, POINT at) {
  const LPARAM where = MAKELPARAM(at.x, at.y);
  SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, where);
  SendMessageA(control, WM_LBUTTONUP, 0, where);
}

TEST(CreatedEvent, RaisedOnceWithAllComponentsBeforeTheWindowShows) {
  DropQuitMessages();
  EventRecorder recorder;
  bool allThere = false, visible = true;
  recorder.reaction = [&](MainWindow& window, const RaisedEvent& raised) {
    if (raised.event == Event::Created) {
      visible = IsWindowVisible(window.Handle());
      allThere = IsWindow(window.Handle(Component::超级列表框1)) && IsWindow(window.Handle(Component::进度条1)) &&
                 (GetWindowLongA(window.Handle(Component::按钮_导出), GWL_STYLE) & WS_VISIBLE);
      window.WriteAddress(Component::IP编辑框_开始, "192.168.1.1");
    }
    return 0;
  };
  {
    MainWindow window(recorder.Bindings());
    ASSERT_TRUE(window.Create());
    EXPECT_EQ(recorder.Of(Component::Window, Event::Created).size(), 1u);
    EXPECT_TRUE(allThere);
    EXPECT_FALSE(visible);
    EXPECT_TRUE(IsWindowVisible(window.Handle()));
    EXPECT_EQ(window.ReadAddress(Component::IP编辑框_开始), "192.168.1.1");
    EXPECT_TRUE(recorder.Of(Component::Window, Event::Destroying).empty());
  }
  EXPECT_EQ(recorder.Of(Component::Window, Event::Destroying).size(), 1u);
  DropQuitMessages();
}

TEST(UnboundWindow, WorksWithoutAnyHandler) {
  DropQuitMessages();
  MainWindow window({});
  ASSERT_TRUE(window.Create());
  SendMessageA(window.Handle(Component::按钮_开始扫描), BM_CLICK, 0, 0);
  window.WriteContent(Component::编辑框_线程数, "7");
  EXPECT_EQ(SendMessageA(window.Handle(Component::标签), ActiveCountNotice, 5, 0), 0);
  EXPECT_EQ(window.ReadContent(Component::编辑框_线程数), "7");
  DestroyWindow(window.Handle());
  EXPECT_EQ(window.Handle(), nullptr);
  DropQuitMessages();
}

TEST_F(EventsTest, ProgramWriteRaisesContentChangedExactlyOnce) {
  recorder_.events.clear();
  window_->WriteContent(Component::编辑框_线程数, "100");  // the text it already holds
  PumpPending(window_.get());
  EXPECT_EQ(recorder_.Of(Component::编辑框_线程数, Event::ContentChanged).size(), 1u);
  window_->WriteContent(Component::编辑框_线程数, "12abc");
  PumpPending(window_.get());
  EXPECT_EQ(recorder_.Of(Component::编辑框_线程数, Event::ContentChanged).size(), 2u);
  EXPECT_EQ(window_->ReadContent(Component::编辑框_线程数), "12abc");
  window_->WriteContent(Component::编辑框_延时, "250");
  EXPECT_EQ(recorder_.Of(Component::编辑框_延时, Event::ContentChanged).size(), 1u);
  EXPECT_EQ(window_->ReadContent(Component::编辑框_延时), "250");
}

TEST_F(EventsTest, TypingRaisesContentChangedAfterEveryChange) {
  HWND edit = H(Component::编辑框_线程数);
  recorder_.events.clear();
  SetFocus(edit);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  SendMessageA(edit, WM_CHAR, '7', 0);
  SendMessageA(edit, WM_CHAR, '5', 0);
  EXPECT_EQ(recorder_.Of(Component::编辑框_线程数, Event::ContentChanged).size(), 2u);
  EXPECT_EQ(window_->ReadContent(Component::编辑框_线程数), "75");
}

TEST_F(EventsTest, AHandlerThatWritesTheFieldRunsOnceMoreAndSettles) {
  // The worker-count validation resets a bad value from inside the handler.
  recorder_.reaction = [](MainWindow& window, const RaisedEvent& raised) {
    if (raised.event == Event::ContentChanged && window.ReadContent(Component::编辑框_线程数) == "0")
      window.WriteContent(Component::编辑框_线程数, "100");
    return 0;
  };
  recorder_.events.clear();
  window_->WriteContent(Component::编辑框_线程数, "0");
  EXPECT_EQ(recorder_.Of(Component::编辑框_线程数, Event::ContentChanged).size(), 2u);
  EXPECT_EQ(window_->ReadContent(Component::编辑框_线程数), "100");
}

TEST_F(EventsTest, WriteFromAnotherThreadRaisesTheEventOnTheWindowThread) {
  recorder_.events.clear();
  std::atomic<bool> done{false};
  std::thread writer([&] {
    window_->WriteContent(Component::编辑框_线程数, "64");
    done = true;
  });
  const bool finished = PumpUntil([&] { return done.load(); }, 5000, window_.get());
  writer.join();
  ASSERT_TRUE(finished) << "the write from another thread never completed";
  const auto raised = recorder_.Of(Component::编辑框_线程数, Event::ContentChanged);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].thread, GetCurrentThreadId());
  EXPECT_EQ(window_->ReadContent(Component::编辑框_线程数), "64");
}

TEST_F(EventsTest, EverySpinPressIsReportedAndNeverChangesTheText) {
  HWND spin = SpinOf(*window_);
  ASSERT_NE(spin, nullptr);
  RECT box{};
  GetClientRect(spin, &box);
  const POINT up{box.right / 2, box.bottom / 4};
  const POINT down{box.right / 2, box.bottom * 3 / 4};
  recorder_.events.clear();
  // More presses than the control's range of 0-100 holds.
  for (int i = 0; i < 101; ++i) Click(spin, up);
  auto presses = recorder_.Of(Component::编辑框_线程数, Event::SpinPressed);
  ASSERT_EQ(presses.size(), 101u);
  for (const RaisedEvent& press : presses) EXPECT_EQ(press.args.first, 1);
  for (int i = 0; i < 205; ++i) Click(spin, down);
  presses = recorder_.Of(Component::编辑框_线程数, Event::SpinPressed);
  ASSERT_EQ(presses.size(), 306u);
  for (std::size_t i = 101; i < presses.size(); ++i) EXPECT_EQ(presses[i].args.first, -1);
  EXPECT_EQ(window_->ReadContent(Component::编辑框_线程数), "100");
  EXPECT_TRUE(recorder_.Of(Component::编辑框_线程数, Event::ContentChanged).empty());
}

TEST_F(EventsTest, HeaderClickReportsTheColumn) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(H(Component::超级列表框1), LVM_GETHEADER, 0, 0));
  for (int column : {3, 0}) {
    RECT item{};
    ASSERT_TRUE(SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item)));
    recorder_.events.clear();
    Click(header, {(item.left + item.right) / 2, (item.top + item.bottom) / 2});
    PumpPending(window_.get());
    const auto clicks = recorder_.Of(Component::超级列表框1, Event::HeaderClicked);
    ASSERT_EQ(clicks.size(), 1u) << "column " << column;
    EXPECT_EQ(clicks[0].args.first, column);
  }
}

TEST_F(EventsTest, ButtonClicksByMouseMessageAndKeyboard) {
  for (Component button : {Component::按钮_开始扫描, Component::按钮2, Component::按钮_导出}) {
    SCOPED_TRACE(Describe(button).name);
    recorder_.events.clear();
    SendMessageA(H(button), BM_CLICK, 0, 0);
    PumpPending(window_.get());
    ASSERT_EQ(recorder_.events.size(), 1u);
    EXPECT_EQ(recorder_.events[0].source, button);
    EXPECT_EQ(recorder_.events[0].event, Event::Clicked);

    SetFocus(H(button));
    recorder_.events.clear();
    PressKey(*window_, VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return !recorder_.Of(button, Event::Clicked).empty(); }, 2000, window_.get()))
        << "Space on the focused button did not click it";
    recorder_.events.clear();
    PressKey(*window_, VK_RETURN);
    EXPECT_EQ(recorder_.Of(button, Event::Clicked).size(), 1u) << "Enter on the focused button";
  }
}

TEST_F(EventsTest, FeedbackFromAnotherThreadReturnsTheHandlersResult) {
  recorder_.reaction = [](MainWindow&, const RaisedEvent& raised) {
    return raised.event == Event::Feedback ? raised.args.first * 1000 + raised.args.second : 0;
  };
  recorder_.events.clear();
  std::atomic<LRESULT> answer{-1};
  std::atomic<bool> done{false};
  HWND label = H(Component::标签);
  std::thread worker([&] {
    answer = SendMessageA(label, 0x8075, 7, static_cast<LPARAM>(-3));
    done = true;
  });
  const bool finished = PumpUntil([&] { return done.load(); }, 5000, window_.get());
  worker.join();
  ASSERT_TRUE(finished) << "the notice was never handled";
  EXPECT_EQ(static_cast<std::int32_t>(answer.load()), 7 * 1000 - 3);
  const auto feedback = recorder_.Of(Component::标签, Event::Feedback);
  ASSERT_EQ(feedback.size(), 1u);
  EXPECT_EQ(feedback[0].args.first, 7);
  EXPECT_EQ(feedback[0].args.second, -3);
  EXPECT_EQ(feedback[0].thread, GetCurrentThreadId());
  // Other labels do not answer the notice.
  EXPECT_EQ(SendMessageA(H(Component::标签1), 0x8075, 1, 1), 0);
  EXPECT_EQ(recorder_.Of(Component::标签, Event::Feedback).size(), 1u);
}

TEST_F(EventsTest, EscapeInAnEditFieldClosesTheWindowOnce) {
  HWND main = window_->Handle();
  SetFocus(H(Component::编辑框_延时));
  ASSERT_EQ(GetFocus(), H(Component::编辑框_延时));
  PressKey(*window_, VK_ESCAPE);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(main); }, 2000, window_.get())) << "Esc did not close the window";
  EXPECT_EQ(recorder_.Of(Component::Window, Event::Destroying).size(), 1u);
  EXPECT_EQ(window_->Handle(), nullptr);
  window_.reset();
  EXPECT_EQ(recorder_.Of(Component::Window, Event::Destroying).size(), 1u);
}

}  // namespace
}  // namespace qv::test
