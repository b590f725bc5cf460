#pragma once
// The process-wide state: one instance for the whole run, owned by the
// program and touched only on the UI thread. The scan's threads never reach
// it directly; they hand their work to the UI thread (see ScanPort).

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/win_handle.h"
#include "base/wine_platform.h"
#include "listview/list_row.h"
#include "listview/list_view_wrapper.h"
#include "scan/lock_registry.h"
#include "scan/scan_engine.h"

namespace qv {

class MainWindow;

// What the program asks of the machine; tests script them.
struct ProgramServices {
  ProbeServices probe;
  std::function<std::vector<std::string>()> localAddresses;
  ThreadStarter startThread = StartSystemThread;
  // Whether the platform is Wine, where the program must outlive its
  // pending echoes.
  std::function<bool()> runsOnWine = RunsOnWine;
};

ProgramServices RealProgramServices();

// The item texts as the list shows them while it is in address order, so
// one more live host is one insert instead of a rebuild of every row.
struct ShownAddresses {
  std::vector<std::string> sorted;
  bool listInAddressOrder = true;

  // The list is empty, which is in address order.
  void Clear() {
    sorted.clear();
    listInAddressOrder = true;
  }
  // The list holds exactly these rows, in address order.
  void Rebuilt(const std::vector<ListRow>& rows) {
    sorted.clear();
    for (const ListRow& row : rows) sorted.push_back(row.text);
    std::sort(sorted.begin(), sorted.end());
    listInAddressOrder = true;
  }
  // A header click sorted the list by another order.
  void Resorted() { listInAddressOrder = false; }
};

struct ProgramState {
  explicit ProgramState(ProgramServices programServices) : services(std::move(programServices)) {}

  ProgramServices services;
  MainWindow* window = nullptr;  // set while the window exists

  UniqueHandle DispatcherHandle;
  std::vector<ListRow> ResultTable;  // discovery order
  ListViewWrapper ResultListView;
  int HeaderSortFlag = 0;

  std::shared_ptr<LockRegistry> locks = std::make_shared<LockRegistry>();
  LockId ScanLock = 0;  // 0 until the window has been created

  // Every echo of every scan until it has returned: under Wine the program
  // ends only when none is pending (an echo cut off by the process's end
  // can wedge Wine's network service for every process).
  std::shared_ptr<PendingEchoes> echoes = std::make_shared<PendingEchoes>();

  // The scan whose threads may still change what the window shows, and the
  // window's side of every scan.
  std::shared_ptr<ScanRun> currentScan;
  std::shared_ptr<ScanPort> scanPort;

  // Ends the current scan for the window: its dispatcher dispatches nothing
  // more and its workers record and report nothing more. Nothing is killed.
  void RetireCurrentScan() {
    if (currentScan) currentScan->Retire();
    currentScan.reset();
    DispatcherHandle.reset();
  }

  ShownAddresses shownAddresses;
};

}  // namespace qv
