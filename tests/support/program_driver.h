#pragma once
// Drives the scanner's main window from another process, the way an operator
// would: fields written and read by their own messages, buttons clicked,
// status-bar parts and list rows read back through blocks allocated in the
// scanner's process, the export answered through the real save dialog and
// message box. Every wait has a limit; failures are results ("" or false).

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/win_handle.h"
#include "listview/list_row.h"
#include "support/launched_program.h"
#include "support/now_ms.h"
#include "support/window_driver.h"
#include "ui/layout.h"

namespace qv::test {

// What the export reported in its message box.
struct ExportOutcome {
  std::string initialName;      // the file name the save dialog opened with
  bool dialogAnswered = false;  // the save dialog appeared and took the name
  bool messageSeen = false;
  std::string messageText;
  std::string messageCaption;
};

class ProgramDriver {
 public:
  // Waits up to limitMs for process pid to show its main window (captioned
  // kWindowCaption) with every component, found by class and position.
  static std::optional<ProgramDriver> Attach(DWORD pid, DWORD limitMs);

  DWORD ProcessId() const { return pid_; }
  HWND Window() const { return window_; }
  HWND Control(Component component) const;
  DWORD UiThreadId() const { return GetWindowThreadProcessId(window_, nullptr); }

  // 编辑框_线程数, 编辑框_延时: WM_GETTEXT / WM_SETTEXT.
  std::string ReadText(Component edit) const;
  bool WriteText(Component edit, std::string_view text) const;
  // IPM_GETADDRESS into a block of the scanner's process: "" when blank,
  // else "%d.%d.%d.%d".
  std::string ReadAddress(Component field) const;
  // IPM_SETADDRESS; false for a text that is not four numbers 0-255.
  bool WriteAddress(Component field, std::string_view text) const;

  // BM_CLICK, returning once the click's handler has run.
  bool Click(Component button) const;
  // BM_CLICK posted: for handlers that open a modal window.
  bool PostClick(Component button) const;

  // SB_GETTEXTW into a block of the scanner's process.
  std::string StatusPart(int part) const;
  // The report list read through ListViewWrapper in cross-process mode.
  std::vector<ListRow> ReadRows() const;

  // True once the status bar's first pane reads "准备就绪" and its second
  // "线程： 0" and both have stayed so for holdMs; idleSinceMs gets the time
  // (NowMs) at which that idle state was first seen. False after limitMs.
  bool WaitForScanEnd(DWORD holdMs, DWORD limitMs, double* idleSinceMs = nullptr) const;
  bool IsIdle() const;

  // Clicks 导出, names the file in the save dialog and confirms it, then
  // reads the message box and presses its OK button. path must not exist
  // (no overwrite question is expected).
  ExportOutcome Export(const std::string& path, DWORD limitMs) const;

  // The dialogs (#32770) of the program's process, and the first visible
  // one, or null.
  DialogsOf Dialogs() const { return DialogsOf::Process(pid_); }
  HWND FindDialog() const;
  // The text of the message box the program shows, or "" when none is open.
  std::string OpenMessageText() const;
  // The message box the program shows, read and answered with OK; waits up
  // to limitMs for it to close. Nothing when no message box is open.
  std::optional<SeenMessageBox> AnswerOpenMessage(DWORD limitMs) const;

  // WM_CLOSE to the main window.
  void Close() const;

 private:
  ProgramDriver(DWORD pid, HWND window) : pid_(pid), window_(window) {}
  bool FindControls();
  HWND WaitForMessageBox(DWORD limitMs) const;
  SeenMessageBox Answer(HWND box, DWORD limitMs) const;

  DWORD pid_ = 0;
  HWND window_ = nullptr;
  std::array<HWND, kComponentCount> controls_{};
};

// The visible top-level window of process pid captioned caption, or null.
HWND FindTopLevelWindow(DWORD pid, std::string_view caption);

}  // namespace qv::test
