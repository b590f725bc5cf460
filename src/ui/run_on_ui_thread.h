#pragma once
// Hands work from any thread to the main window's thread and waits for it:
// components belong to that thread, so other threads touch them only here
// or by a single synchronous window message.

#include <windows.h>

#include <type_traits>

namespace qv {

struct UiCall {
  void (*invoke)(void* target);
  void* target;
};

// One SendMessage of RunOnUiThreadRequest. False, without running the call,
// when the window does not exist (or is not a main window). The caller must
// hold nothing the UI thread could be waiting for.
bool SendUiCall(HWND window, UiCall& call);

// Runs the call; the main window's procedure answers the request with this.
LRESULT RunUiCall(LPARAM request);

template <class F>
bool RunOnUiThread(HWND window, F&& work) {
  using Work = std::remove_reference_t<F>;
  UiCall call{[](void* target) { (*static_cast<Work*>(target))(); }, const_cast<void*>(static_cast<const void*>(&work))};
  return SendUiCall(window, call);
}

}  // namespace qv
