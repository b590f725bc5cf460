#pragma once
// Hands work from any thread to the main window's thread and waits for it:
// components belong to that thread, so other threads touch them only here
// or by a single synchronous window message.

#include <windows.h>

#include <functional>
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

// Hands work to the window's thread without waiting for it: for work that
// waits for the operator (a message box) while the caller goes on. Safe
// from any thread. The work runs later, on the window's thread, or never
// when the window is gone first; either way it is freed. False when it
// could not be handed over.
bool PostToUiThread(HWND window, std::function<void()> work);

// Runs the posted work and frees it; the main window's procedure answers
// the request with this.
void RunPostedUiCall(LPARAM request);
// Frees, without running them, the posted calls still queued for the
// window; the main window does this as it is destroyed.
void DropPostedUiCalls(HWND window);

}  // namespace qv
