// The dispatcher and workers against a scripted probe and a recording port:
// order of dispatch, the worker limit, retirement and handle hygiene.
#include "scan/scan_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/handle_count.h"
#include "support/scripted_probe.h"
#include "support/time_limit.h"

namespace qv {
namespace {

class RecordingPort : public ScanPort {
 public:
  void BeginScan(ScanRun&) override { ++begins; }
  void RecordLiveHost(ScanRun& run, const HostRecord& host) override {
    std::lock_guard<std::mutex> hold(mutex);
    if (!run.IsRetired()) hosts.push_back(host);
  }
  void ReportActiveCount(ScanRun& run, std::int32_t running) override {
    std::lock_guard<std::mutex> hold(mutex);
    if (!run.IsRetired()) notices.push_back(running);
  }
  std::string ReadTimeoutText() override { return timeoutText; }

  std::atomic<int> begins{0};
  std::mutex mutex;
  std::vector<HostRecord> hosts;
  std::vector<std::int32_t> notices;
  std::string timeoutText = "100";
};

class ScanEngineTest : public ::testing::Test {
 protected:
  std::shared_ptr<ScanRun> Start(const char* first, const char* last, std::int32_t limit) {
    const auto check = CheckScanRange(first, last);
    EXPECT_TRUE(check.range);
    ScanSettings settings;
    settings.limit = limit;
    settings.range = *check.range;
    settings.probe = probe.Services();
    settings.port = port;
    settings.locks = locks;
    settings.scanLock = scanLock;
    settings.census = census;
    auto run = ScanRun::Create(std::move(settings));
    dispatcher = run->StartDispatcher();
    EXPECT_TRUE(dispatcher);
    return run;
  }

  // Waits until the dispatcher is done and every worker has ended.
  static bool WaitForEnd(const ScanRun& run, DWORD limitMs = 10000) {
    const DWORD start = GetTickCount();
    while (!(run.DispatchDone() && run.ActiveWorkerCount() == 0)) {
      if (GetTickCount() - start > test::TimeLimit(limitMs)) return false;
      Sleep(2);
    }
    return true;
  }

  static bool WaitUntilUnlisted(const ScanRun& run) {
    const DWORD start = GetTickCount();
    while (run.ListedWorkers() != 0) {
      if (GetTickCount() - start > test::TimeLimit(5000)) return false;
      Sleep(2);
    }
    return true;
  }

  test::ScriptedProbe probe;
  std::shared_ptr<RecordingPort> port = std::make_shared<RecordingPort>();
  std::shared_ptr<LockRegistry> locks = std::make_shared<LockRegistry>();
  LockId scanLock = locks->Create();
  std::shared_ptr<WorkerCensus> census = std::make_shared<WorkerCensus>(kMaxWorkers);
  UniqueHandle dispatcher;
};

TEST_F(ScanEngineTest, DispatchesEveryAddressInOrderAcrossCarries) {
  auto run = Start("192.168.1.254", "192.168.2.1", 10);
  ASSERT_TRUE(WaitForEnd(*run)) << "scan did not end";
  const std::vector<std::string> expected{"192.168.1.254", "192.168.1.255", "192.168.2.0", "192.168.2.1"};
  std::vector<std::string> probed = probe.Probed();
  EXPECT_EQ(probed.size(), 4u);
  std::sort(probed.begin(), probed.end());
  std::vector<std::string> sortedExpected = expected;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  EXPECT_EQ(probed, sortedExpected);
  EXPECT_EQ(run->StartedWorkers(), 4u);
  EXPECT_TRUE(WaitUntilUnlisted(*run)) << "ended workers keep no handle";
  EXPECT_EQ(port->begins.load(), 1);
  ASSERT_FALSE(port->notices.empty());
  EXPECT_EQ(port->notices.back(), 0) << "the last worker reports 0";
}

TEST_F(ScanEngineTest, FirstEqualToLastDispatchesOne) {
  auto run = Start("10.0.0.7", "10.0.0.7", 5);
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(probe.Probed(), std::vector<std::string>{"10.0.0.7"});
  EXPECT_EQ(port->notices, std::vector<std::int32_t>{0});
}

TEST_F(ScanEngineTest, NeverRunsMoreWorkersThanTheLimit) {
  probe.delayMs = 40;
  auto run = Start("10.0.0.1", "10.0.0.30", 3);
  ASSERT_TRUE(WaitForEnd(*run, 20000));
  EXPECT_EQ(probe.Probed().size(), 30u);
  EXPECT_LE(probe.MostRunning(), 3);
  EXPECT_GE(probe.MostRunning(), 2) << "the limit should be used";
}

// The pause holds from one start to the next whatever a start costs; a
// lost or mis-scaled pause would fire the whole range at the network.
TEST_F(ScanEngineTest, WorkersStartAtLeastAPauseApart) {
  auto run = Start("10.0.0.1", "10.0.0.40", 40);
  ASSERT_TRUE(WaitForEnd(*run));
  std::vector<double> starts = probe.ProbeTimesMs();
  ASSERT_EQ(starts.size(), 40u);
  std::sort(starts.begin(), starts.end());
  // A wait is rounded to whole milliseconds, and the system's timer may end
  // it up to a millisecond early.
  EXPECT_GE(starts.back() - starts.front(), 39 * 8.0);
}

TEST_F(ScanEngineTest, LimitOneRunsWorkersStrictlyInOrder) {
  probe.delayMs = 5;
  auto run = Start("10.0.0.1", "10.0.0.6", 1);
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(probe.MostRunning(), 1);
  EXPECT_EQ(probe.Probed(),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6"}));
}

TEST_F(ScanEngineTest, LiveHostsBecomeRecordsWithPaddedAddressAndReplyTime) {
  probe.SetLive({{"10.1.2.20", 0}, {"10.1.2.3", 15}});
  auto run = Start("10.1.2.1", "10.1.2.25", 100);
  ASSERT_TRUE(WaitForEnd(*run));
  ASSERT_EQ(port->hosts.size(), 2u);
  std::map<std::string, HostRecord> byAddress;
  for (const auto& host : port->hosts) byAddress[host.displayAddress] = host;
  EXPECT_EQ(byAddress.at("10.1.2.003").replyTime, "15");
  EXPECT_EQ(byAddress.at("10.1.2.020").replyTime, "0") << "a reply time of 0 is live";
  EXPECT_EQ(byAddress.at("10.1.2.020").hostName, "pc-10.1.2.20");
}

TEST_F(ScanEngineTest, TimeOutFieldIsClampedForEveryProbe) {
  port->timeoutText = "-1";
  auto run = Start("10.0.0.1", "10.0.0.2", 5);
  ASSERT_TRUE(WaitForEnd(*run));
  port->timeoutText = "999999";
  auto second = Start("10.0.0.3", "10.0.0.3", 5);
  ASSERT_TRUE(WaitForEnd(*second));
  EXPECT_EQ(probe.Timeouts(), (std::vector<std::int32_t>{1, 1, 60000}));
}

TEST_F(ScanEngineTest, RetiredRunDispatchesAndReportsNothingMore) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    probe.delayMs = 20;
    probe.SetLive({{"10.0.0.1", 1}, {"10.0.0.2", 1}, {"10.0.0.200", 1}});
    port->hosts.clear();
    port->notices.clear();
    probe.Forget();
    auto run = Start("10.0.0.1", "10.0.0.250", 4);
    Sleep(round % 5 * 7);
    run->Retire();
    const std::size_t hostsAtStop = port->hosts.size();
    const std::size_t noticesAtStop = port->notices.size();
    ASSERT_TRUE(WaitForEnd(*run)) << "retired scan did not wind down";
    EXPECT_EQ(port->hosts.size(), hostsAtStop);
    EXPECT_EQ(port->notices.size(), noticesAtStop);
    EXPECT_LT(probe.Probed().size(), 20u);
  }
}

// A stopped scan's workers wait out their probe; a new scan's workers wait
// for them while the process's census is full, so two scans never hold more
// worker threads than its ceiling (under 32-bit Wine, 1,024 workers fill the
// address space).
TEST_F(ScanEngineTest, NewScanWaitsForAStoppedScansWorkersWhileTheCensusIsFull) {
  census = std::make_shared<WorkerCensus>(4);
  probe.delayMs = 1000;
  auto stopped = Start("10.0.0.1", "10.0.0.20", 4);
  const DWORD start = GetTickCount();
  while (stopped->StartedWorkers() < 4 && GetTickCount() - start < test::TimeLimit(5000)) Sleep(2);
  ASSERT_EQ(stopped->StartedWorkers(), 4u);
  stopped->Retire();
  auto next = Start("10.0.1.1", "10.0.1.8", 4);
  ASSERT_TRUE(WaitForEnd(*next, 30000)) << "the new scan did not end";
  ASSERT_TRUE(WaitForEnd(*stopped));
  EXPECT_LE(probe.MostRunning(), 4) << "both scans' workers ran at once";
  EXPECT_EQ(next->StartedWorkers(), 8u) << "every address of the new scan gets its worker";
  // A worker leaves the census last of all, a moment after its report.
  const DWORD end = GetTickCount();
  while (census->Alive() != 0 && GetTickCount() - end < test::TimeLimit(5000)) Sleep(2);
  EXPECT_EQ(census->Alive(), 0) << "every ended worker leaves the census";
}

TEST_F(ScanEngineTest, TwentyScansLeaveTheHandleCountWhereItWas) {
  {
    auto warmUp = Start("10.0.0.1", "10.0.0.3", 3);
    ASSERT_TRUE(WaitForEnd(*warmUp));
    dispatcher.reset();
  }
  const long before = test::ProcessHandleCount();
  for (int i = 0; i < 20; ++i) {
    auto run = Start("10.0.0.1", "10.0.0.5", 3);
    ASSERT_TRUE(WaitForEnd(*run));
    dispatcher.reset();
    // The last worker's reference may outlive its report by a moment.
    const DWORD start = GetTickCount();
    while (run.use_count() > 1 && GetTickCount() - start < 5000) Sleep(1);
  }
  EXPECT_EQ(test::ProcessHandleCount(), before);
}

}  // namespace
}  // namespace qv
