#include "ui/run_on_ui_thread.h"

#include <memory>
#include <utility>

#include "ui/app_messages.h"

namespace qv {
namespace {

// A window that does not handle the request answers 0 (DefWindowProc), and
// SendMessage to a destroyed window fails with 0, so only this value proves
// that the call ran.
constexpr LRESULT kUiCallDone = 0x51C0;

}  // namespace

bool SendUiCall(HWND window, UiCall& call) {
  if (!IsWindow(window)) return false;
  return SendMessageW(window, RunOnUiThreadRequest, 0, reinterpret_cast<LPARAM>(&call)) == kUiCallDone;
}

LRESULT RunUiCall(LPARAM request) {
  auto* call = reinterpret_cast<UiCall*>(request);
  call->invoke(call->target);
  return kUiCallDone;
}

using PostedUiCall = std::function<void()>;

bool PostToUiThread(HWND window, std::function<void()> work) {
  auto call = std::make_unique<PostedUiCall>(std::move(work));
  if (!PostMessageW(window, PostedUiCallRequest, 0, reinterpret_cast<LPARAM>(call.get()))) return false;
  call.release();  // the queued message owns it now
  return true;
}

void RunPostedUiCall(LPARAM request) {
  const std::unique_ptr<PostedUiCall> call(reinterpret_cast<PostedUiCall*>(request));
  (*call)();
}

// PeekMessage hands out WM_QUIT whatever the filter; the window's end may
// have asked for it already, and the message loop must still see it.
void DropPostedUiCalls(HWND window) {
  MSG queued;
  while (PeekMessageW(&queued, window, PostedUiCallRequest, PostedUiCallRequest, PM_REMOVE)) {
    if (queued.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(queued.wParam));
      return;
    }
    delete reinterpret_cast<PostedUiCall*>(queued.lParam);
  }
}

}  // namespace qv
