#include "app/handlers.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "app/window_scan_port.h"
#include "base/number_text.h"
#include "export/export_text.h"
#include "export/whole_file.h"
#include "scan/address_text.h"
#include "scan/scan_rules.h"
#include "ui/app_messages.h"
#include "ui/main_window.h"
#include "ui/show_message.h"

namespace qv {
namespace {

constexpr const char* kReady = "准备就绪";
constexpr const char* kScanning = "正在扫描...";
constexpr const char* kDefaultWorkerCount = "100";
constexpr const char* kEchoServiceSilent = "系统的回显服务没有响应";

std::int32_t FieldNumber(const MainWindow& window, Component field) {
  return TextToInteger(window.ReadContent(field));
}

void SendActiveCountNotice(MainWindow& window, std::int32_t running) {
  SendMessageW(window.Handle(Component::标签), ActiveCountNotice, static_cast<WPARAM>(running), 0);
}

std::vector<ExportRow> DisplayedRows(const MainWindow& window) {
  const int count = window.ItemCount();
  std::vector<ExportRow> rows(static_cast<std::size_t>(std::max(count, 0)));
  for (int row = 0; row < count; ++row)
    for (int column = 0; column < 4; ++column) rows[row][column] = window.ItemText(row, column);
  return rows;
}

}  // namespace

void PrefillAddressRange(ProgramState& state, MainWindow& window) {
  const auto addresses = state.services.localAddresses ? state.services.localAddresses()
                                                       : std::vector<std::string>{};
  if (!addresses.empty()) {
    const std::string prefix = AddressPrefix(addresses.front());
    window.WriteAddress(Component::IP编辑框_开始, prefix + "1");
    window.WriteAddress(Component::IP编辑框_结束, prefix + "255");
  }
  state.ResultListView.Attach(window.Handle(Component::超级列表框1));
}

void OnWindowCreated(ProgramState& state, MainWindow& window) {
  state.window = &window;
  PrefillAddressRange(state, window);
  state.scanPort = MakeWindowScanPort(state);
  state.ScanLock = state.locks->Create();
}

void OnWindowDestroyed(ProgramState& state) {
  state.RetireCurrentScan();
  state.echoes->Close();
  state.locks->Delete(state.ScanLock);
  state.window = nullptr;
}

void OnStartClicked(ProgramState& state, MainWindow& window) {
  const std::int32_t limit = FieldNumber(window, Component::编辑框_线程数);
  const RangeCheck check =
      CheckScanRange(window.ReadAddress(Component::IP编辑框_开始), window.ReadAddress(Component::IP编辑框_结束));
  if (!check.range) {
    ShowMessage(RangeProblemText(check.problem), MB_ICONEXCLAMATION, window.Caption());
    return;
  }
  // Two scans never share anything: the running one is retired first.
  state.RetireCurrentScan();
  ScanSettings settings;
  settings.limit = std::clamp(limit, 1, kMaxWorkers);
  settings.range = *check.range;
  settings.probe = state.services.probe;
  settings.port = state.scanPort;
  settings.locks = state.locks;
  settings.scanLock = state.ScanLock;
  settings.startThread = state.services.startThread;
  settings.processEchoes = state.echoes;
  state.currentScan = ScanRun::Create(std::move(settings));
  state.DispatcherHandle = state.currentScan->StartDispatcher();
  // The old scan is retired already and nothing of the new one will ever
  // report, so the window says what a stop says.
  if (!state.DispatcherHandle) {
    OnStopClicked(state, window);
    return;
  }
  // Until a worker ends nothing reports, and a new scan may wait long for
  // room to start its first: the window says at once that it scans.
  window.SetStatusText(0, kScanning);
  window.SetStatusText(1, RunningWorkersText(0));
}

void OnStopClicked(ProgramState& state, MainWindow& window) {
  state.RetireCurrentScan();
  SendActiveCountNotice(window, 0);
}

// The scan ends as after a stop, and the operator learns why it ended.
void OnEchoServiceSilent(ProgramState& state, MainWindow& window) {
  OnStopClicked(state, window);
  ShowMessage(kEchoServiceSilent, MB_ICONEXCLAMATION, window.Caption());
}

void OnThreadCountChanged(MainWindow& window) {
  if (FieldNumber(window, Component::编辑框_线程数) <= 0) {
    window.WriteContent(Component::编辑框_线程数, kDefaultWorkerCount);
    ShowMessage("数值必须大于0", MB_ICONEXCLAMATION, window.Caption());
    return;
  }
  if (FieldNumber(window, Component::编辑框_线程数) > kMaxWorkers) {
    window.WriteContent(Component::编辑框_线程数, kDefaultWorkerCount);
    ShowMessage("数值小于1024", MB_ICONEXCLAMATION, window.Caption());
  }
}

void OnThreadCountSpin(MainWindow& window, std::int32_t step) {
  const double next = static_cast<double>(FieldNumber(window, Component::编辑框_线程数)) + step;
  window.WriteContent(Component::编辑框_线程数, NumberToText(next));
}

// A count of 0 ends the scan only once its last address has a worker: with
// few workers, or a whole batch ending together, it also falls to 0 between
// two starts, and the window must not say it is idle then.
bool ScanStillWalking(const ProgramState& state) {
  return state.currentScan && !state.currentScan->IsRetired() && !state.currentScan->LastAddressHandedOver();
}

std::int32_t OnActiveCountNotice(ProgramState& state, MainWindow& window, std::int32_t running) {
  if (running <= 0 && ScanStillWalking(state)) {
    window.SetStatusText(1, RunningWorkersText(running));
    window.SetStatusText(0, kScanning);
    return 0;
  }
  if (running > 0) {
    window.DeferRepaint(Component::状态条1);
    window.DeferRepaint(Component::进度条1);
  }
  window.SetStatusText(1, RunningWorkersText(running));
  window.SetProgress(ProgressPosition(FieldNumber(window, Component::编辑框_线程数), running));
  if (running <= 0) {
    window.SetStatusText(0, kReady);
    window.SetProgress(0);
    window.RepaintDeferred();  // the end of a scan shows at once
  } else {
    window.SetStatusText(0, kScanning);
  }
  return 0;
}

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

void OnHeaderClicked(ProgramState& state, MainWindow&, int column) {
  state.ResultListView.DeleteAllItems();
  const int code = column + 0x800;
  state.ResultListView.InsertRows(std::nullopt, state.ResultTable, state.HeaderSortFlag == 0 ? code : ~code);
  state.HeaderSortFlag = (state.HeaderSortFlag & 1) ^ 1;
  state.shownAddresses.Resorted();
}

EventBindings MainWindowEventBindings(ProgramState& state) {
  using C = Component;
  return {
      {C::Window, Event::Created, [&state](MainWindow& w, const EventArgs&) { OnWindowCreated(state, w); }},
      {C::Window, Event::Destroying, [&state](MainWindow&, const EventArgs&) { OnWindowDestroyed(state); }},
      {C::按钮_开始扫描, Event::Clicked, [&state](MainWindow& w, const EventArgs&) { OnStartClicked(state, w); }},
      {C::按钮2, Event::Clicked, [&state](MainWindow& w, const EventArgs&) { OnStopClicked(state, w); }},
      {C::按钮_导出, Event::Clicked, [](MainWindow& w, const EventArgs&) { OnExportClicked(w); }},
      {C::编辑框_线程数, Event::ContentChanged, [](MainWindow& w, const EventArgs&) { OnThreadCountChanged(w); }},
      {C::编辑框_线程数, Event::SpinPressed,
       [](MainWindow& w, const EventArgs& args) { OnThreadCountSpin(w, args.first); }},
      {C::标签, Event::Feedback,
       [&state](MainWindow& w, const EventArgs& args) { return OnActiveCountNotice(state, w, args.first); }},
      {C::超级列表框1, Event::HeaderClicked,
       [&state](MainWindow& w, const EventArgs& args) { OnHeaderClicked(state, w, args.first); }},
  };
}

}  // namespace qv
