#include "support/save_dialog_answerer.h"

#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>
#include <vector>

namespace qv::test {
namespace {

bool IsEdit(HWND window) { return lstrcmpiA(ClassOf(window).c_str(), WC_EDITA) == 0; }

BOOL CALLBACK KeepFirstEdit(HWND child, LPARAM found) {
  if (!IsEdit(child)) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

// The edit field that holds the file name: inside a combo box (itself
// perhaps inside a ComboBoxEx) on some implementations of the dialog, a
// plain edit field on others.
HWND FileNameField(HWND dialog) {
  HWND control = nullptr;
  for (int id : {cmb13, edt1}) {
    control = GetDlgItem(dialog, id);
    if (control && IsWindowVisible(control)) break;
    control = nullptr;
  }
  if (!control || IsEdit(control)) return control;
  HWND edit = nullptr;
  EnumChildWindows(control, &KeepFirstEdit, reinterpret_cast<LPARAM>(&edit));
  return edit;
}

}  // namespace

std::optional<SaveDialogAnswerer> SaveDialogAnswerer::WaitFor(const DialogsOf& dialogs, DWORD limitMs) {
  HWND found = nullptr;
  const bool shown = WaitUntil(
      [&] {
        const std::vector<HWND> visible = dialogs.Visible();
        const auto save = std::find_if(visible.begin(), visible.end(), &Is);
        found = save == visible.end() ? nullptr : *save;
        return found != nullptr;
      },
      limitMs);
  if (!shown) return std::nullopt;
  SaveDialogAnswerer answerer(found);
  // The dialog may fill in its initial name after it has been shown; a name
  // typed before that would be overwritten.
  WaitUntil([&] { return !answerer.Name().empty(); }, limitMs);
  return answerer;
}

bool SaveDialogAnswerer::Is(HWND dialog) { return FileNameField(dialog) != nullptr; }

SaveDialogAnswerer::SaveDialogAnswerer(HWND dialog) : dialog_(dialog), nameField_(FileNameField(dialog)) {}

std::string SaveDialogAnswerer::Title() const { return TextOfAnyWindow(dialog_); }

std::string SaveDialogAnswerer::Name() const { return TextOfAnyWindow(nameField_); }

int SaveDialogAnswerer::FilterCount() const {
  return static_cast<int>(SendWithLimit(GetDlgItem(dialog_, cmb1), CB_GETCOUNT));
}

int SaveDialogAnswerer::ChosenFilter() const {
  return static_cast<int>(SendWithLimit(GetDlgItem(dialog_, cmb1), CB_GETCURSEL));
}

void SaveDialogAnswerer::ChooseFilter(int index) const {
  const HWND filters = GetDlgItem(dialog_, cmb1);
  SendWithLimit(filters, CB_SETCURSEL, static_cast<WPARAM>(index));
  SendWithLimit(dialog_, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(filters));
}

// The dialog is a Unicode window: a name beyond GBK and the ANSI code page
// reaches it only through the wide message.
void SaveDialogAnswerer::TypeName(const std::wstring& name) const {
  SendWithLimit(nameField_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

void SaveDialogAnswerer::PressSave() const { PressButton(dialog_, IDOK); }

void SaveDialogAnswerer::PressCancel() const { PressButton(dialog_, IDCANCEL); }

bool SaveDialogAnswerer::WaitUntilClosed(DWORD limitMs) const {
  return WaitUntil([&] { return !IsWindow(dialog_); }, limitMs);
}

bool SaveDialogAnswerer::WaitUntilTaken(DWORD limitMs) const {
  return WaitUntil([&] { return !IsWindowVisible(dialog_) || !IsWindowEnabled(dialog_); }, limitMs);
}

}  // namespace qv::test
