#include "export/export_handler.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export/export_text.h"
#include "export/whole_file.h"
#include "ui/main_window.h"
#include "ui/show_message.h"

namespace qv {
namespace {

std::vector<ExportRow> DisplayedRows(const MainWindow& window) {
  const int count = window.ItemCount();
  std::vector<ExportRow> rows(static_cast<std::size_t>(std::max(count, 0)));
  for (int row = 0; row < count; ++row)
    for (int column = 0; column < 4; ++column) rows[row][column] = window.ItemText(row, column);
  return rows;
}

}  // namespace

void OnExportClicked(MainWindow& window) {
  // The text is complete before the dialog opens: a snapshot of the list at
  // the click. Workers wait meanwhile, since their rows reach the list only
  // through this thread.
  const std::string text = ExportText(DisplayedRows(window));
  if (!window.SaveDialog().Open(window.Handle())) return;
  if (WriteWholeFile(window.SaveDialog().FileName(), text))
    ShowMessage("导出成功！", MB_ICONINFORMATION, window.Caption());
  else
    ShowMessage("导出失败！", MB_ICONHAND, window.Caption());
}

}  // namespace qv
