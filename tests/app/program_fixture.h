#pragma once
// The whole program in the test's process: its window and handlers run on a
// UI thread of their own with a scripted probe, while the test drives the
// window from the test thread the way an operator would.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "support/handle_count.h"
#include "support/scripted_probe.h"
#include "support/thread_gate.h"
#include "support/window_driver.h"
#include "ui/main_window.h"
#include "ui/run_on_ui_thread.h"

namespace qv::test {

// Handles of threads, ended or not. A run keeps its threads' handles until
// it is freed, so a run that is never freed shows here.
inline long ThreadHandleCount() {
  const std::vector<HANDLE> handles = ProcessHandles();
  return static_cast<long>(std::count_if(handles.begin(), handles.end(), [](HANDLE h) { return GetThreadId(h) != 0; }));
}

// Handles that may appear during scans without any leak: the runtime gives
// a mutex an event at its first contention, which may come at any scan (on
// a busy machine, at the first scan that meets it), and keeps it while the
// mutex lives (a recursive one's for good). The lock registry's, the scan
// lock's, the pending-echo list's and the scripted probe's live as long as
// the window.
constexpr long kLazyMutexHandles = 4;

// A click on a column header of the results list, as the header reports it
// to the list's parent.
inline void SendHeaderClick(HWND list, int column) {
  NMLISTVIEW click{};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
  click.hdr.code = LVN_COLUMNCLICK;
  click.iSubItem = column;
  SendMessageA(GetParent(list), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override { Launch({"10.0.0.7", "192.168.9.9"}); }
  void TearDown() override {
    probe.ReleaseEchoes();  // the program waits for its pending echoes
    Close();
  }

  void Launch(std::vector<std::string> localAddresses) {
    std::atomic<bool> ready{false};
    ended_ = false;
    ui_ = std::thread([this, &ready, localAddresses] {
      ProgramServices services;
      services.probe = LaunchProbe();
      services.startThread = threads.Starter();
      services.localAddresses = [localAddresses] { return localAddresses; };
      services.runsOnWine = [this] { return platformIsWine.load(); };
      Program program(std::move(services));
      const bool created = program.Create();
      program_ = created ? &program : nullptr;
      ready = true;
      if (created) program.Run();
      program_ = nullptr;
      ended_ = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return ready.load(); }, 10000)) << "program window not created";
    ASSERT_NE(program_, nullptr);
    window_ = program_->Window().Handle();
  }

  // Closes the window as the close box does and waits for the UI thread.
  void Close() {
    if (!ui_.joinable()) return;
    PostMessageA(window_, WM_CLOSE, 0, 0);
    ui_.join();
  }

  // What the program probes with: the scripted probe, unless a fixture
  // built on this one says otherwise.
  virtual ProbeServices LaunchProbe() { return probe.Services(); }

  HWND Handle(Component component) { return program_->Window().Handle(component); }

  template <class F>
  auto OnUi(F work) {
    decltype(work()) result{};
    RunOnUiThread(window_, [&] { result = work(); });
    return result;
  }

  void Click(Component button) { SendMessageA(Handle(button), BM_CLICK, 0, 0); }
  void ClickHeader(int column) { SendHeaderClick(Handle(Component::超级列表框1), column); }
  void WriteField(Component field, const std::string& text) {
    OnUi([&] {
      program_->Window().WriteContent(field, text);
      return 0;
    });
  }
  std::string Field(Component field) { return WindowText(Handle(field)); }
  void SetRange(const std::string& first, const std::string& last) {
    OnUi([&] {
      program_->Window().WriteAddress(Component::IP编辑框_开始, first);
      program_->Window().WriteAddress(Component::IP编辑框_结束, last);
      return 0;
    });
  }
  std::string Status(int part) { return StatusPartText(Handle(Component::状态条1), part); }
  int Progress() { return static_cast<int>(SendMessageA(Handle(Component::进度条1), PBM_GETPOS, 0, 0)); }
  std::vector<std::string> ListColumn(int column = 0) {
    return OnUi([&] {
      std::vector<std::string> texts;
      for (int row = 0; row < program_->Window().ItemCount(); ++row)
        texts.push_back(program_->Window().ItemText(row, column));
      return texts;
    });
  }
  std::size_t TableSize() { return OnUi([&] { return program_->State().ResultTable.size(); }); }
  bool Idle() { return Status(0) == "准备就绪" && Status(1) == "线程： 0"; }

  // The current scan has dispatched everything and every worker has ended.
  bool WaitForScanEnd(DWORD limitMs = 15000) {
    return WaitUntil(
        [&] {
          return OnUi([&] {
            const auto& run = program_->State().currentScan;
            return !run || (run->DispatchDone() && run->RunningWorkers() == 0);
          });
        },
        limitMs);
  }

  // The program's run has returned (its window is gone and no echo of it
  // is pending any more).
  bool Ended() const { return ended_.load(); }

  ScriptedProbe probe;
  ThreadGate threads;
  // The program outlives its pending echoes only where the platform is
  // Wine; each test says which platform the program sees.
  std::atomic<bool> platformIsWine{true};
  std::atomic<bool> ended_{false};
  Program* program_ = nullptr;
  HWND window_ = nullptr;
  std::thread ui_;
};

}  // namespace qv::test
