#pragma once
// The save-file dialog answered the way an operator would: found among the
// dialogs of a thread or a process, read, a file name typed into it, a
// filter chosen, Save or Cancel pressed. Every text is asked of the dialog's
// own windows with a time limit, so that one answerer serves a dialog of
// this process (answered from a second thread while the UI thread is inside
// it) and one of the program driven from another process. The dialog's
// questions and complaints are message boxes (window_driver.h).

#include <windows.h>

#include <optional>
#include <string>

#include "support/window_driver.h"

namespace qv::test {

class SaveDialogAnswerer {
 public:
  // The save dialog among dialogs, once it shows and has filled in its
  // initial name (or limitMs have passed without one); nothing when it does
  // not show within limitMs.
  static std::optional<SaveDialogAnswerer> WaitFor(const DialogsOf& dialogs, DWORD limitMs);
  // A save dialog has a file-name field; a message box has none.
  static bool Is(HWND dialog);

  explicit SaveDialogAnswerer(HWND dialog);

  std::string Title() const;
  // The file-name field's text, as GBK.
  std::string Name() const;
  int FilterCount() const;
  // 0-based; -1 when none is.
  int ChosenFilter() const;

  // As a click on the entry would: the dialog hears of the change.
  void ChooseFilter(int index) const;
  // Name() tells whether the dialog took it.
  void TypeName(const std::wstring& name) const;
  void PressSave() const;
  void PressCancel() const;

  bool WaitUntilClosed(DWORD limitMs) const;
  // Until the dialog has taken an answer: hidden, or disabled under a box of
  // its own (a question or a complaint).
  bool WaitUntilTaken(DWORD limitMs) const;

 private:
  HWND dialog_;
  HWND nameField_;
};

}  // namespace qv::test
