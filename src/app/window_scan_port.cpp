#include "app/window_scan_port.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/handlers.h"
#include "app/program_state.h"
#include "scan/scan_rules.h"
#include "ui/app_messages.h"
#include "ui/main_window.h"
#include "ui/run_on_ui_thread.h"
#include "ui/show_message.h"
#include "ui/window_text.h"

namespace qv {
namespace {

constexpr int kAddressOrder = 1;
constexpr const char* kWorkersCannotStart = "暂时无法创建扫描线程，扫描将在资源释放后继续。";

class WindowScanPort final : public ScanPort {
 public:
  explicit WindowScanPort(ProgramState& state)
      : state_(state),
        window_(state.window->Handle()),
        timeoutField_(state.window->Handle(Component::编辑框_延时)),
        label_(state.window->Handle(Component::标签)) {}

  void BeginScan(ScanRun& run) override {
    WhileCurrent(run, [&] { ResetScanResults(state_); });
  }

  void RecordLiveHost(ScanRun& run, const HostRecord& host) override {
    WhileCurrent(run, [&] { qv::RecordLiveHost(state_, host); });
  }

  void ReportActiveCount(ScanRun& run, std::int32_t running) override {
    WhileCurrent(run, [&] { SendMessageW(label_, ActiveCountNotice, static_cast<WPARAM>(running), 0); });
  }

  // The box waits for the operator; the scan does not: as the box says, it
  // goes on as soon as room comes, whether or not anyone has answered.
  void ReportWorkersCannotStart(ScanRun& run) override {
    PostToUiThread(window_, [this, told = std::weak_ptr<ScanRun>(run.shared_from_this())] {
      const std::shared_ptr<ScanRun> scan = told.lock();
      if (scan && IsCurrent(*scan)) ShowMessage(kWorkersCannotStart, MB_ICONEXCLAMATION, state_.window->Caption());
    });
  }

  void ReportEchoServiceSilent(ScanRun& run) override {
    WhileCurrent(run, [&] { OnEchoServiceSilent(state_, *state_.window); });
  }

  std::string ReadTimeoutText() override { return WindowText(timeoutField_); }

 private:
  // Checked on the UI thread: a stopped or replaced scan, or a window that
  // has gone, must change nothing any more.
  bool IsCurrent(const ScanRun& run) const {
    return !run.IsRetired() && state_.currentScan.get() == &run && state_.window != nullptr;
  }

  // The work, on the UI thread and waited for, while the run is current.
  template <typename Work>
  void WhileCurrent(ScanRun& run, const Work& work) {
    RunOnUiThread(window_, [&] {
      if (IsCurrent(run)) work();
    });
  }

  ProgramState& state_;
  HWND window_;
  HWND timeoutField_;
  HWND label_;
};

ListRow RowOf(const HostRecord& host) {
  ListRow row;
  row.text = host.displayAddress;
  row.subTexts = {host.hostName, host.macAddress, host.replyTime};
  return row;
}

// One row inserted and filled in place. InsertRows switches redrawing off
// and on around its rows, and switching it on repaints the whole list: once
// per live host, that repaint would cost more than all the rest of the
// recording. The window repaints the list at its own pace instead.
void InsertOneRow(ListViewWrapper& list, int index, const ListRow& row) {
  const int at = list.InsertItem(index, row.text, row.image, row.checkState, row.indent, row.data);
  if (at < 0) return;
  for (std::size_t i = 0; i < row.subTexts.size(); ++i)
    list.SetItemText(at, static_cast<int>(i) + 1, row.subTexts[i]);
}

void RebuildInAddressOrder(ProgramState& state) {
  state.ResultListView.DeleteAllItems();
  state.ResultListView.InsertRows(std::nullopt, state.ResultTable, kAddressOrder);
  state.shownAddresses.Rebuilt(state.ResultTable);
}

// The list shows every recorded host in ascending byte order of the address
// text, as a full rebuild would. While it already does, and the new address
// is not shown yet, inserting the one row at its place gives the same list;
// the cost of a rebuild grows with every host found, an insert's does not.
void ShowInAddressOrder(ProgramState& state, const ListRow& row) {
  auto& shown = state.shownAddresses.sorted;
  if (state.shownAddresses.listInAddressOrder &&
      static_cast<int>(shown.size()) == state.ResultListView.GetItemCount()) {
    const auto place = std::lower_bound(shown.begin(), shown.end(), row.text);
    if (place == shown.end() || *place != row.text) {
      const int index = static_cast<int>(place - shown.begin());
      InsertOneRow(state.ResultListView, index, row);
      shown.insert(place, row.text);
      return;
    }
  }
  RebuildInAddressOrder(state);
}

}  // namespace

std::shared_ptr<ScanPort> MakeWindowScanPort(ProgramState& state) { return std::make_shared<WindowScanPort>(state); }

void ResetScanResults(ProgramState& state) {
  state.ResultTable.clear();
  state.ResultListView.DeleteAllItems();
  state.shownAddresses.Clear();
}

void RecordLiveHost(ProgramState& state, const HostRecord& host) {
  state.ResultTable.push_back(RowOf(host));
  state.window->DeferRepaint(Component::状态条1);
  state.window->SetStatusText(2, LiveHostsText(state.ResultTable.size()));
  state.window->DeferRepaint(Component::超级列表框1);
  ShowInAddressOrder(state, state.ResultTable.back());
}

}  // namespace qv
