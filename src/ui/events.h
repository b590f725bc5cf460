#pragma once
// Events of the main window, bound to handlers by (component, event) pairs.
// The application hands the whole table to the window when it creates it.

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "ui/layout.h"

namespace qv {

class MainWindow;

enum class Event {
  Created,         // Component::Window, once, before the window is shown
  Destroying,      // Component::Window, while it is being destroyed
  Clicked,         // the three push buttons
  ContentChanged,  // 编辑框_线程数 (raised for 编辑框_延时 too; nothing binds it)
  SpinPressed,     // 编辑框_线程数: first = +1 up, -1 down
  Feedback,        // 标签 got ActiveCountNotice: first = wParam, second = lParam
  HeaderClicked,   // 超级列表框1: first = 0-based column
};

struct EventArgs {
  std::int32_t first = 0;
  std::int32_t second = 0;
};

// Only the feedback event's result is used: it is the notice's message result.
using EventHandler = std::function<std::int32_t(MainWindow&, const EventArgs&)>;

struct EventBinding {
  // Handlers that have no result may return void.
  template <class F>
  EventBinding(Component source, Event event, F&& handler)
      : source(source), event(event), handler(Adapt(std::forward<F>(handler))) {}

  Component source;
  Event event;
  EventHandler handler;

 private:
  template <class F>
  static EventHandler Adapt(F&& handler) {
    if constexpr (std::is_void_v<std::invoke_result_t<F&, MainWindow&, const EventArgs&>>) {
      return [h = std::forward<F>(handler)](MainWindow& window, const EventArgs& args) -> std::int32_t {
        h(window, args);
        return 0;
      };
    } else {
      return EventHandler(std::forward<F>(handler));
    }
  }
};

// At most one binding per pair is used: the first one listed.
using EventBindings = std::vector<EventBinding>;

}  // namespace qv
