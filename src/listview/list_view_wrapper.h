#pragma once
// Drives one report-style list view (SysListView32) purely by messages,
// either in this process or, in cross-process mode, in the process that
// owns the list: then every structure and text goes through a block
// allocated in that process, opened and released within each operation.
//
// Not thread-safe: calls on one instance must not overlap. Messages sent
// from another thread are handled on the list's own thread.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listview/list_row.h"
#include "listview/process_memory_helper.h"

namespace qv {

class ListViewWrapper {
 public:
  ListViewWrapper();
  // With a given memory helper, e.g. one of a chosen platform family.
  explicit ListViewWrapper(std::unique_ptr<ProcessMemoryHelper> memory);
  ListViewWrapper(const ListViewWrapper&) = delete;
  ListViewWrapper& operator=(const ListViewWrapper&) = delete;

  // The operations keep this order: the destructor first, Clone second.
  virtual ~ListViewWrapper();
  virtual std::unique_ptr<ListViewWrapper> Clone() const;

  // Binds to window when its class is SysListView32 in any letter case;
  // otherwise returns false and changes nothing. crossProcess true turns
  // cross-process mode on; false leaves the mode as it was.
  virtual bool Attach(HWND window, bool crossProcess = false);
  // GetClassNameA's answer without surrounding blanks; "" for no window.
  virtual std::string GetWindowClassName(HWND window);

  // Items. Indices are 0-based; the check state is -1 (no state image),
  // 0 (unchecked) or 1 (checked). Failed text reads give "".
  virtual std::string GetItemText(int item, int subItem = 0);
  virtual int GetItemImage(int item, int subItem = 0);
  virtual int GetItemCheckState(int item);
  virtual int GetItemIndent(int item);
  virtual int GetItemData(int item);
  virtual int SetItemText(int item, int subItem, std::string_view text);
  virtual int SetItemImage(int item, int subItem = 0, int image = 0);
  virtual int SetItemCheckState(int item, int state = -1);
  virtual int SetItemIndent(int item, int indent = 0);
  virtual int SetItemData(int item, int data = 0);
  virtual std::vector<int> GetSelectedItems();
  virtual std::vector<int> GetCheckedItems();
  virtual int GetSelectedCount();
  virtual bool IsItemSelected(int item);
  virtual int SelectItem(int item);
  virtual int DeselectItem(int item);
  virtual int GetItemCount();
  // Appends when position is omitted or -1. The new index, or -1.
  virtual int InsertItem(std::optional<int> position, std::string_view text, int image = -1, int checkState = -1,
                         int indent = 0, int data = 0);
  // Shows a sorted private copy of rows from position on (appends when it
  // is omitted or -1); redrawing is off meanwhile. rows is left untouched.
  virtual void InsertRows(std::optional<int> position, const std::vector<ListRow>& rows, int sortCode);
  // Sorts rows between the 1-based positions first (default 1) and last
  // (default the row count).
  virtual void SortRows(std::vector<ListRow>& rows, std::optional<int> first, std::optional<int> last,
                        int sortCode);
  virtual bool DeleteItem(int item);
  virtual bool DeleteAllItems();
  // The searches look at the items after start; an omitted start searches
  // the whole list. The index found, or -1.
  virtual int FindItemByText(std::string_view text, std::optional<int> start = std::nullopt, bool wholeText = false,
                             bool wrap = false);
  virtual int FindItemByData(std::optional<int> start = std::nullopt, int data = 0, bool wrap = false);
  virtual bool EnsureVisible(int item);
  virtual bool Arrange();

  // Columns. Alignment: 0 left, 1 centre, 2 right. A missing column reads
  // as "", alignment 255, width 0, image -1, image not on the right.
  virtual std::string GetColumnText(int column);
  virtual std::uint8_t GetColumnAlignment(int column);
  virtual int GetColumnWidth(int column);
  virtual int GetColumnImage(int column);
  virtual bool IsColumnImageOnRight(int column);
  virtual int SetColumnText(int column, std::string_view text);
  virtual int SetColumnWidth(int column, int width = 0);
  virtual int SetColumnImage(int column, int image = 0);
  virtual int GetColumnCount();
  // Appends when position is omitted or -1. The new index, or -1.
  virtual int InsertColumn(std::optional<int> position, std::string_view text, int width = 50, int alignment = 0,
                           int image = -1, bool imageOnRight = false);
  virtual bool DeleteColumn(int column);
  // Starts editing the item's label; the edit window, or null.
  virtual HWND EditLabel(int item);

  virtual void ReadAllRows(std::vector<ListRow>& rows);
  // The item and its sub-items, one per column after the first. An item
  // that does not exist reads as an empty row.
  virtual ListRow ReadRow(int item);

  // Colours and views. View: 0 icon, 1 small icon, 2 list, 3 report,
  // 4 tile; -1 for a view the control names otherwise.
  virtual COLORREF GetTextColor();
  virtual void SetTextColor(COLORREF colour);
  virtual bool RedrawVisibleItems();
  virtual int GetTopIndex();
  virtual int GetCountPerPage();
  virtual COLORREF GetTextBkColor();
  virtual void SetTextBkColor(COLORREF colour);
  virtual COLORREF GetBkColor();
  virtual void SetBkColor(COLORREF colour);
  virtual int GetView();
  virtual void SetView(int view);
  virtual std::string GetBkImage();
  // Shows the image at path behind a transparent text background.
  virtual void SetBkImage(std::string_view path, bool tile = true);
  virtual int GetHotItem();
  virtual int GetItemSpacing();
  virtual HWND GetEditControl();
  virtual void GetItemSpacingXY(int& horizontal, int& vertical, bool smallIcons = false);
  // Reads every row, empties the list and shows the rows sorted by the
  // column's text: ascending for direction 1, descending otherwise.
  virtual void SortList(int column, int direction = 1);
  // With an argument, sets or clears LVS_SINGLESEL; answers whether it is set.
  virtual bool SingleSelection(std::optional<bool> set = std::nullopt);
  // The selected item of a single-selection list, else -1.
  virtual int GetSelectedItem();
  virtual bool SelectSingleItem(int item);
  virtual void EnableCrossProcess();
  virtual void DisableCrossProcess();

  HWND ListWindow() const { return listWindow_; }
  bool IsCrossProcess() const { return crossProcess_; }
  ProcessMemoryHelper& Memory() const { return *memory_; }

 private:
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  // The helper that reaches the list's process, or null in same-process mode.
  ProcessMemoryHelper* CrossMemory() const { return crossProcess_ ? memory_.get() : nullptr; }
  int WriteItemState(int item, UINT state, UINT stateMask);

  HWND listWindow_ = nullptr;
  bool crossProcess_ = false;
  std::unique_ptr<ProcessMemoryHelper> memory_;
};

}  // namespace qv
