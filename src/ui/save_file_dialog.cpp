#include "ui/save_file_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "base/gbk_bytes.h"
#include "base/gbk_wide.h"

namespace qv {
namespace {

// Room for the long-path form of a name, not only MAX_PATH.
constexpr std::size_t kPathCapacity = 32768;

}  // namespace

std::string FilterToDialogList(std::string_view filter) {
  std::string list;
  list.reserve(filter.size() + 2);
  for (std::size_t i = 0; i < filter.size(); ++i) {
    const char c = filter[i];
    if (IsGbkLeadByte(static_cast<unsigned char>(c)) && i + 1 < filter.size()) {
      list.push_back(c);
      list.push_back(filter[++i]);
    } else {
      list.push_back(c == '|' ? '\0' : c);
    }
  }
  list.push_back('\0');
  list.push_back('\0');
  return list;
}

SaveFileDialog::SaveFileDialog(const SaveDialogSettings& settings)
    : settings_(settings), fileName_(WideFromGbk(settings.fileName)) {}

bool SaveFileDialog::Open(HWND owner) {
  // The list's NULs survive the conversion, which is given its length.
  const std::wstring filter = WideFromGbk(FilterToDialogList(settings_.filter));
  const std::wstring defaultExtension = settings_.defaultExtension ? WideFromGbk(settings_.defaultExtension) : L"";
  std::vector<wchar_t> path(kPathCapacity, L'\0');
  std::copy_n(fileName_.begin(), std::min(fileName_.size(), path.size() - 1), path.begin());

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = defaultExtension.empty() ? nullptr : defaultExtension.c_str();
  dialog.Flags = (settings_.flags & ~static_cast<DWORD>(OFN_FILEMUSTEXIST)) | OFN_EXPLORER;
  if (!GetSaveFileNameW(&dialog)) return false;
  fileName_ = path.data();
  return true;
}

}  // namespace qv
