#pragma once
// The non-visual save-file dialog component: stored settings, a modal open
// and the file name the operator confirmed last.

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/layout.h"

namespace qv {

// "caption|pattern|..." as the dialog wants it: every '|' that is not the
// second byte of a GBK character becomes NUL, and the list ends with two NULs.
std::string FilterToDialogList(std::string_view filter);

class SaveFileDialog {
 public:
  explicit SaveFileDialog(const SaveDialogSettings& settings);

  // The platform's modal save dialog; true when the operator confirmed a file.
  bool Open(HWND owner);

  // The initial name until an open is confirmed, then the chosen full path,
  // exactly as the dialog gave it: a name may hold characters that GBK
  // cannot, and the file must still be written under that name.
  const std::wstring& FileName() const noexcept { return fileName_; }

 private:
  SaveDialogSettings settings_;
  std::wstring fileName_;
};

}  // namespace qv
