#include "ui/save_file_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace qv {
namespace {

bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

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
    : settings_(settings), fileName_(settings.fileName) {}

bool SaveFileDialog::Open(HWND owner) {
  const std::string filter = FilterToDialogList(settings_.filter);
  std::vector<char> path(kPathCapacity, '\0');
  std::copy_n(fileName_.begin(), std::min(fileName_.size(), path.size() - 1), path.begin());

  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = settings_.defaultExtension;
  dialog.Flags = (settings_.flags & ~static_cast<DWORD>(OFN_FILEMUSTEXIST)) | OFN_EXPLORER;
  if (!GetSaveFileNameA(&dialog)) return false;
  fileName_ = path.data();
  return true;
}

}  // namespace qv
