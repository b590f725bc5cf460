#include "ui/run_on_ui_thread.h"

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

}  // namespace qv
