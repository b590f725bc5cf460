#pragma once
// Every application-defined window message of the program.

#include <windows.h>

namespace qv {

enum AppMessage : UINT {
  // lParam: the UiCall to run on the window's thread (see run_on_ui_thread.h).
  RunOnUiThreadRequest = WM_APP,
  // Posted; lParam: the PostedUiCall to run and free (see run_on_ui_thread.h).
  PostedUiCallRequest = WM_APP + 1,
  // Sent to the label 标签 with the number of running workers in wParam: on
  // a worker's behalf by the UI thread, once the worker's run proves still
  // current, and by the stop operation itself. The feedback handler's
  // result is the message result.
  ActiveCountNotice = WM_APP + 0x75,
};

static_assert(ActiveCountNotice == 0x8075, "workers and the window agree on this number");

}  // namespace qv
