#pragma once
// Helpers of the window tests: message pumping with time limits, real input,
// rectangles read back from the windows, and a recorder of raised events.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/events.h"
#include "ui/main_window.h"
#include "support/window_driver.h"
#include "ui/window_text.h"

namespace qv::test {

// Pumps this thread's messages, through the window's keyboard handling when
// a window is given, until the condition holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, MainWindow* window) {
  if (!window) return PumpUntil(done, timeoutMs);
  return PumpUntil(done, timeoutMs, [window](const MSG& message) { return window->TranslateKeyboard(message); });
}

// Handles every message already waiting, then returns.
inline void PumpPending(MainWindow* window = nullptr) {
  PumpUntil([] { return true; }, 0, window);
}

// Real key strokes through the system's input queue (so the key state, e.g.
// Shift, is what the window sees), handled before returning.
inline void PressKey(MainWindow& window, WORD key, bool shift = false) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  if (shift) add(VK_SHIFT, false);
  add(key, false);
  add(key, true);
  if (shift) add(VK_SHIFT, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  // The strokes are queued at once; done when no input is left and the
  // key-up of the last key has been seen.
  PumpUntil([] { return HIWORD(GetQueueStatus(QS_INPUT)) == 0 && GetKeyState(VK_SHIFT) >= 0; }, 2000, &window);
}

// The system DPI this test process found when it started (Wine reads it
// from the prefix's registry). The window's layout is the design's at 96 DPI
// scaled by it: exact at 96, within a pixel of design * dpi / 96 elsewhere.
inline int ProcessDpi() {
  const WindowDcScope screen(nullptr);
  return GetDeviceCaps(screen.dc(), LOGPIXELSX);
}
inline double AtDpi(int designValue) { return designValue * ProcessDpi() / 96.0; }
inline double PixelTolerance() { return ProcessDpi() == 96 ? 0.0 : 1.0; }
#define EXPECT_AT_DPI(actual, designValue) EXPECT_NEAR((actual), AtDpi(designValue), PixelTolerance())

inline RECT RectIn(HWND window, HWND relativeTo) {
  RECT box{};
  GetWindowRect(window, &box);
  MapWindowPoints(nullptr, relativeTo, reinterpret_cast<POINT*>(&box), 2);
  return box;
}

struct RaisedEvent {
  Component source;
  Event event;
  EventArgs args;
  DWORD thread;
};

// Records every event of every (component, event) pair the window raises;
// a test may put its own reaction in front of the recording.
class EventRecorder {
 public:
  std::function<std::int32_t(MainWindow&, const RaisedEvent&)> reaction;

  EventBindings Bindings() {
    EventBindings bindings;
    const std::pair<Component, Event> pairs[] = {
        {Component::Window, Event::Created},           {Component::Window, Event::Destroying},
        {Component::按钮_开始扫描, Event::Clicked},    {Component::按钮2, Event::Clicked},
        {Component::按钮_导出, Event::Clicked},        {Component::编辑框_线程数, Event::ContentChanged},
        {Component::编辑框_延时, Event::ContentChanged}, {Component::编辑框_线程数, Event::SpinPressed},
        {Component::标签, Event::Feedback},            {Component::超级列表框1, Event::HeaderClicked},
    };
    for (const auto& [source, event] : pairs) {
      bindings.emplace_back(source, event, [this, source = source, event = event](MainWindow& window, const EventArgs& args) {
        const RaisedEvent raised{source, event, args, GetCurrentThreadId()};
        events.push_back(raised);
        return reaction ? reaction(window, raised) : 0;
      });
    }
    return bindings;
  }

  std::vector<RaisedEvent> Of(Component source, Event event) const {
    std::vector<RaisedEvent> found;
    for (const RaisedEvent& raised : events)
      if (raised.source == source && raised.event == event) found.push_back(raised);
    return found;
  }

  std::vector<RaisedEvent> events;
};

// Drops the WM_QUIT a destroyed window left behind: a modal loop (message box,
// file dialog) would end at once on it.
inline void DropQuitMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// A shown main window with every event recorded, focus settled.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DropQuitMessages();
    window_ = std::make_unique<MainWindow>(recorder_.Bindings());
    ASSERT_TRUE(window_->Create());
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() != nullptr; }, 5000, window_.get())) << "the window never took the focus";
  }
  void TearDown() override {
    window_.reset();
    DropQuitMessages();
  }

  HWND H(Component component) const { return window_->Handle(component); }

  EventRecorder recorder_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace qv::test
