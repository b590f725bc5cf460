// The dispatcher and workers against a scripted probe and a recording port:
// order of dispatch, the worker limit, retirement and handle hygiene.
#include "scan/scan_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/handle_count.h"
#include "support/scripted_probe.h"
#include "support/thread_gate.h"
#include "support/time_limit.h"
#include "support/window_driver.h"

namespace qv {
namespace {

// Keeps every live host the engine hands over, retired run or not: holding
// back a retired run's hosts is the engine's own duty. Notices of a retired
// run are dropped, as the window's side does.
class RecordingPort : public ScanPort {
 public:
  void BeginScan(ScanRun&) override { ++begins; }
  void RecordLiveHost(ScanRun&, const HostRecord& host) override {
    std::lock_guard<std::mutex> hold(mutex_);
    hosts_.push_back(host);
  }
  void ReportActiveCount(ScanRun& run, std::int32_t running) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (run.IsRetired()) return;
    notices_.push_back(running);
    endsOfWalk_.push_back(run.LastAddressHandedOver());
  }
  void ReportWorkersCannotStart(ScanRun&) override { ++cannotStartReports; }
  void ReportEchoServiceSilent(ScanRun& run) override {
    if (!run.IsRetired()) ++silentReports;
  }
  std::string ReadTimeoutText() override { return timeoutText; }

  std::vector<HostRecord> Hosts() {
    std::lock_guard<std::mutex> hold(mutex_);
    return hosts_;
  }
  std::vector<std::int32_t> Notices() {
    std::lock_guard<std::mutex> hold(mutex_);
    return notices_;
  }
  // For each notice, whether the run's last address had its worker by then.
  std::vector<bool> EndsOfWalk() {
    std::lock_guard<std::mutex> hold(mutex_);
    return endsOfWalk_;
  }
  void Forget() {
    std::lock_guard<std::mutex> hold(mutex_);
    hosts_.clear();
    notices_.clear();
    endsOfWalk_.clear();
  }

  std::atomic<int> begins{0};
  std::atomic<int> cannotStartReports{0};
  std::atomic<int> silentReports{0};
  std::string timeoutText = "100";

 private:
  std::mutex mutex_;
  std::vector<HostRecord> hosts_;
  std::vector<std::int32_t> notices_;
  std::vector<bool> endsOfWalk_;
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
    settings.startThread = threads.Starter();
    settings.processEchoes = processEchoes;
    settings.silentEchoGraceMs = silentEchoGraceMs;
    settings.census = census;
    auto run = ScanRun::Create(std::move(settings));
    dispatcher = run->StartDispatcher();
    EXPECT_TRUE(dispatcher);
    return run;
  }

  // Waits until the dispatcher is done and every worker has ended.
  static bool WaitForEnd(const ScanRun& run, DWORD limitMs = 10000) {
    const DWORD start = GetTickCount();
    while (!(run.DispatchDone() && run.RunningWorkers() == 0)) {
      if (GetTickCount() - start > test::TimeLimit(limitMs)) return false;
      Sleep(2);
    }
    return true;
  }

  test::ScriptedProbe probe;
  test::ThreadGate threads;
  std::shared_ptr<RecordingPort> port = std::make_shared<RecordingPort>();
  std::shared_ptr<LockRegistry> locks = std::make_shared<LockRegistry>();
  LockId scanLock = locks->Create();
  std::shared_ptr<PendingEchoes> processEchoes = std::make_shared<PendingEchoes>();
  std::uint32_t silentEchoGraceMs = kSilentEchoServiceGraceMs;
  std::shared_ptr<WorkerCensus> census = std::make_shared<WorkerCensus>(kMaxWorkers);
  UniqueHandle dispatcher;

  void TearDown() override { probe.ReleaseEchoes(); }
};

// With a limit of 1 each worker ends before the next starts, so the order of
// the probes is the order of dispatch.
TEST_F(ScanEngineTest, DispatchesEveryAddressInOrderAcrossCarries) {
  auto run = Start("192.168.1.254", "192.168.2.1", 1);
  ASSERT_TRUE(WaitForEnd(*run)) << "scan did not end";
  EXPECT_EQ(probe.Probed(),
            (std::vector<std::string>{"192.168.1.254", "192.168.1.255", "192.168.2.0", "192.168.2.1"}));
  EXPECT_EQ(probe.MostRunning(), 1);
  EXPECT_EQ(run->StartedWorkers(), 4u);
  EXPECT_TRUE(test::WaitUntil([&] { return run->ListedWorkers() == 0; })) << "ended workers keep no handle";
  EXPECT_EQ(port->begins.load(), 1);
  EXPECT_EQ(port->Notices(), (std::vector<std::int32_t>{0, 0, 0, 0})) << "each worker ends alone";
  EXPECT_EQ(port->EndsOfWalk(), (std::vector<bool>{false, false, false, true}))
      << "only the last worker's 0 is the scan's end, and its notice knows it";
}

TEST_F(ScanEngineTest, FirstEqualToLastDispatchesOne) {
  auto run = Start("10.0.0.7", "10.0.0.7", 5);
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(probe.Probed(), std::vector<std::string>{"10.0.0.7"});
  EXPECT_EQ(port->Notices(), std::vector<std::int32_t>{0});
}

TEST_F(ScanEngineTest, NeverRunsMoreWorkersThanTheLimit) {
  probe.delayMs = 40;
  auto run = Start("10.0.0.1", "10.0.0.30", 3);
  ASSERT_TRUE(WaitForEnd(*run, 20000));
  EXPECT_EQ(probe.Probed().size(), 30u);
  EXPECT_LE(probe.MostRunning(), 3);
  EXPECT_GE(probe.MostRunning(), 2) << "the limit should be used";
}

// The pause holds from one start to the next whatever a start costs, never
// a fraction of a millisecond less; a lost or mis-scaled pause would fire
// the whole range at the network.
TEST_F(ScanEngineTest, WorkersStartAtLeastAPauseApart) {
  threads.startCostUs = 600;
  auto run = Start("10.0.0.1", "10.0.0.40", 40);
  ASSERT_TRUE(WaitForEnd(*run));
  const std::vector<double> starts = threads.WorkerCallTimesMs();
  ASSERT_EQ(starts.size(), 40u);
  for (std::size_t i = 1; i < starts.size(); ++i) {
    // The engine reads its clock a few microseconds before the gate does.
    EXPECT_GE(starts[i] - starts[i - 1], 10.0 - 0.02) << "start " << i;
  }
}

TEST_F(ScanEngineTest, LiveHostsBecomeRecordsWithPaddedAddressAndReplyTime) {
  probe.SetLive({{"10.1.2.20", 0}, {"10.1.2.3", 15}});
  auto run = Start("10.1.2.1", "10.1.2.25", 100);
  ASSERT_TRUE(WaitForEnd(*run));
  const std::vector<HostRecord> hosts = port->Hosts();
  ASSERT_EQ(hosts.size(), 2u);
  std::map<std::string, HostRecord> byAddress;
  for (const auto& host : hosts) byAddress[host.displayAddress] = host;
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

// The probes are held while the run is retired, so every worker's probe
// returns after the retirement: none may record its live host, and the
// dispatcher may start nothing more.
TEST_F(ScanEngineTest, RetiredRunDispatchesAndRecordsNothingMore) {
  std::map<std::string, std::int32_t> live;
  for (int last = 1; last <= 250; ++last) live["10.0.0." + std::to_string(last)] = 1;
  probe.SetLive(live);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    port->Forget();
    probe.Forget();
    threads.Forget();
    probe.HoldEchoes(test::ScriptedProbe::Hold::kNever);
    const int heldAtRetirement = round % 4 + 1;
    auto run = Start("10.0.0.1", "10.0.0.250", 4);
    ASSERT_TRUE(test::WaitUntil([&] { return probe.Running() >= heldAtRetirement; }));
    run->Retire();
    const std::size_t probedAtRetirement = probe.Probed().size();
    const int startsAtRetirement = threads.WorkerCalls();
    probe.ReleaseEchoes();
    ASSERT_TRUE(WaitForEnd(*run)) << "retired scan did not wind down";
    EXPECT_TRUE(port->Hosts().empty());
    EXPECT_EQ(probe.Probed().size(), probedAtRetirement);
    // A start already under way when the run was retired may still happen.
    EXPECT_LE(threads.WorkerCalls(), startsAtRetirement + 1);
  }
}

// A worker thread that cannot be created gives its slot back, and its
// address is tried again rather than lost; the operator hears of it only
// after a long while, and once.
TEST_F(ScanEngineTest, AWorkerThatCannotStartIsTriedAgain) {
  const struct {
    const char* name;
    std::function<bool(int)> refuse;
    int reports;
  } cases[] = {
      {"second address refused twice", [](int call) { return call == 1 || call == 2; }, 0},
      {"second address refused for 7 s", [](int call) { return call >= 1 && call <= 70; }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port->Forget();
    probe.Forget();
    port->cannotStartReports = 0;
    threads.Forget();
    threads.refuseWorker = c.refuse;
    auto run = Start("10.0.0.1", "10.0.0.3", 1);
    ASSERT_TRUE(WaitForEnd(*run, 20000));
    EXPECT_EQ(probe.Probed(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    EXPECT_EQ(port->cannotStartReports.load(), c.reports);
    EXPECT_EQ(port->Notices(), (std::vector<std::int32_t>{0, 0, 0})) << "only ended workers report";
  }
}

TEST_F(ScanEngineTest, ARetiredRunStopsTryingToStartAWorker) {
  threads.refuseWorker = [](int) { return true; };
  auto run = Start("10.0.0.1", "10.0.0.3", 2);
  ASSERT_TRUE(test::WaitUntil([&] { return threads.WorkerCalls() >= 3; }));
  run->Retire();
  ASSERT_TRUE(WaitForEnd(*run, 1000));
  const int calls = threads.WorkerCalls();
  Sleep(300);
  EXPECT_EQ(threads.WorkerCalls(), calls);
  EXPECT_TRUE(probe.Probed().empty());
}

// Every echo counts as pending, for its run and for the process, until it
// returns; once the process's record is closed, no echo begins.
TEST_F(ScanEngineTest, EveryEchoIsPendingUntilItReturns) {
  probe.HoldEchoes(test::ScriptedProbe::Hold::kUntilTimeOut);
  port->timeoutText = "60000";
  auto run = Start("10.0.0.1", "10.0.0.5", 10);
  ASSERT_TRUE(test::WaitUntil([&] { return probe.Running() == 5; }, 5000));
  EXPECT_EQ(processEchoes->Count(), 5u);
  EXPECT_EQ(run->PendingEchoCount(), 5u);
  const std::uint64_t now = AwakeClockMs();
  EXPECT_GE(*processEchoes->LatestDue(), now + 50000) << "due at the end of the minute-long time-out";
  processEchoes->Close();
  probe.ReleaseEchoes();
  WaitForPendingEchoes(*processEchoes);
  EXPECT_EQ(processEchoes->Count(), 0u);
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(run->PendingEchoCount(), 0u);

  auto after = Start("10.0.1.1", "10.0.1.3", 10);
  ASSERT_TRUE(WaitForEnd(*after));
  EXPECT_EQ(probe.Probed().size(), 5u) << "no echo begins once the process's record is closed";
}

// Echoes that never return, as from an echo service that has stopped
// answering: the run ends once one is overdue by the grace, and its port is
// told once, whether the dispatcher still walks (waiting for a free slot) or
// has walked.
TEST_F(ScanEngineTest, EchoesOverdueByTheGraceEndTheRunOnce) {
  silentEchoGraceMs = 300;
  port->timeoutText = "1";
  probe.HoldEchoes(test::ScriptedProbe::Hold::kNever);
  const struct {
    const char* last;
    std::int32_t limit;
    std::size_t held;
  } cases[] = {{"10.0.0.20", 3, 3}, {"10.0.0.2", 10, 2}};
  int reports = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    const DWORD start = GetTickCount();
    auto run = Start("10.0.0.1", c.last, c.limit);
    ASSERT_TRUE(test::WaitUntil([&] { return run->IsRetired(); }, 10000)) << "the scan never ended";
    EXPECT_GE(GetTickCount() - start, 300u);
    EXPECT_EQ(port->silentReports.load(), ++reports);
    EXPECT_EQ(run->PendingEchoCount(), c.held);
  }
  const std::vector<std::int32_t> noticesBefore = port->Notices();
  probe.ReleaseEchoes();
  WaitForPendingEchoes(*processEchoes);
  EXPECT_EQ(processEchoes->Count(), 0u);
  EXPECT_EQ(port->silentReports.load(), reports);
  EXPECT_EQ(port->Notices(), noticesBefore) << "a retired run reports nothing";
}

// One echo held up in a busy service far past its time-out and the grace,
// while every other echo comes back: the service answers, and the scan
// walks its whole range without a word about it.
TEST_F(ScanEngineTest, AnEchoHeldUpWhileOthersReturnDoesNotEndTheRun) {
  silentEchoGraceMs = 300;
  port->timeoutText = "100";
  probe.delayMs = 5;
  probe.SlowDown("10.0.0.2", 1500);
  auto run = Start("10.0.0.1", "10.0.0.200", 4);
  ASSERT_TRUE(WaitForEnd(*run, 30000)) << "the scan never ended";
  EXPECT_EQ(port->silentReports.load(), 0) << "a slow echo is not a silent service";
  EXPECT_FALSE(run->IsRetired());
  EXPECT_EQ(probe.Probed().size(), 200u) << "the rest of the range was skipped";
  EXPECT_EQ(port->Notices().size(), 200u);
}

// Look-ups take their time after the echo has come back: however long, they
// are no echo the service owes.
TEST_F(ScanEngineTest, ALookUpSlowerThanTheGraceDoesNotEndTheRun) {
  silentEchoGraceMs = 100;
  port->timeoutText = "1";
  probe.lookupDelayMs = 250;
  probe.SetLive({{"10.0.0.1", 1}, {"10.0.0.2", 1}, {"10.0.0.3", 1}});
  auto run = Start("10.0.0.1", "10.0.0.3", 3);
  ASSERT_TRUE(WaitForEnd(*run, 20000));
  EXPECT_EQ(port->silentReports.load(), 0);
  EXPECT_EQ(port->Hosts().size(), 3u);
}

// A service that refuses every echo for want of room answers none of them:
// the scan ends once, with the message, though every echo came back.
TEST_F(ScanEngineTest, AServiceThatRefusesEveryEchoEndsTheRunOnce) {
  silentEchoGraceMs = 300;
  port->timeoutText = "50";
  probe.refuse = true;
  auto run = Start("10.0.0.1", "10.0.0.250", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return run->IsRetired(); }, 20000)) << "the scan never ended";
  EXPECT_EQ(port->silentReports.load(), 1);
  EXPECT_LT(probe.Probed().size(), 250u);
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(port->silentReports.load(), 1);
}

// No echo can be sent at all: the run ends at its first echoes, the port is
// told once however many workers find it so at the same moment, and the
// rest of the range is never walked, whether the dispatcher was waiting for
// a free slot or had walked the whole range.
TEST_F(ScanEngineTest, WithoutAnEchoServiceTheFirstEchoesEndTheRunOnce) {
  probe.noService = true;
  const struct {
    const char* last;
    std::int32_t limit;
    int inFlight;
  } cases[] = {{"10.0.0.250", 8, 8}, {"10.0.0.3", 10, 3}};
  int reports = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    probe.Forget();
    probe.HoldEchoes(test::ScriptedProbe::Hold::kNever);
    auto run = Start("10.0.0.1", c.last, c.limit);
    ASSERT_TRUE(test::WaitUntil([&] { return probe.Running() == c.inFlight; })) << "the workers never started";
    probe.ReleaseEchoes();
    ASSERT_TRUE(test::WaitUntil([&] { return run->IsRetired(); })) << "the scan walked on";
    ASSERT_TRUE(WaitForEnd(*run));
    EXPECT_EQ(port->silentReports.load(), ++reports);
    EXPECT_LE(probe.Probed().size(), 2u * static_cast<std::size_t>(c.inFlight)) << "the walk went on";
    EXPECT_TRUE(port->Hosts().empty());
  }
}

// The walk is over and all that is left is an echo lost on the way while the
// service answered the others: the scan ends as a finished one does, with
// the count of 0 and no message, instead of showing itself running for ever.
TEST_F(ScanEngineTest, AfterTheWalkALostEchoEndsTheRunAsFinished) {
  silentEchoGraceMs = 200;
  port->timeoutText = "1";
  probe.SlowDown("10.0.0.3", INFINITE);
  probe.SetLive({{"10.0.0.1", 1}, {"10.0.0.3", 1}});
  auto run = Start("10.0.0.1", "10.0.0.8", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return run->IsRetired(); }, 10000)) << "the lost echo kept the scan going";
  EXPECT_EQ(port->silentReports.load(), 0);
  EXPECT_EQ(probe.Probed().size(), 8u);
  const std::vector<std::int32_t> notices = port->Notices();
  ASSERT_EQ(notices.size(), 8u) << "seven workers' notices and the end's";
  EXPECT_EQ(notices.back(), 0);
  probe.ReleaseEchoes();
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(port->Hosts().size(), 1u) << "the lost echo's late reply is not recorded";
  EXPECT_EQ(port->Notices().size(), 8u);
}

// A worker whose reply came just before the stop begins no look-up.
TEST_F(ScanEngineTest, ARetiredRunsWorkerSkipsTheLookUpsItHasNotBegun) {
  probe.lookupDelayMs = 300;
  probe.SetLive({{"10.0.0.1", 1}});
  auto run = Start("10.0.0.1", "10.0.0.1", 1);
  ASSERT_TRUE(test::WaitUntil([&] { return probe.NameLookups() == 1; }));
  run->Retire();
  ASSERT_TRUE(WaitForEnd(*run));
  EXPECT_EQ(probe.MacLookups(), 0);
  EXPECT_TRUE(port->Hosts().empty());
}

// The wait at the program's end is bounded: an echo long overdue belongs
// to a service that will not answer.
TEST(WaitForPendingEchoes, GivesUpOnceTheLatestEchoIsOverdueByTheGrace) {
  PendingEchoes echoes;
  const auto stuck = echoes.Begin(AwakeClockMs());
  const DWORD start = GetTickCount();
  WaitForPendingEchoes(echoes, 300);
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 250u);
  EXPECT_LT(took, test::TimeLimit(3000));
  EXPECT_EQ(echoes.Count(), 1u);
}

// A stopped scan's workers wait out their probe; a new scan's workers wait
// for them while the process's census is full, so two scans never hold more
// worker threads than its ceiling (under 32-bit Wine, 1,024 workers fill the
// address space).
TEST_F(ScanEngineTest, NewScanWaitsForAStoppedScansWorkersWhileTheCensusIsFull) {
  census = std::make_shared<WorkerCensus>(4);
  probe.delayMs = 1000;
  auto stopped = Start("10.0.0.1", "10.0.0.20", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return stopped->StartedWorkers() == 4; }));
  stopped->Retire();
  auto next = Start("10.0.1.1", "10.0.1.8", 4);
  ASSERT_TRUE(WaitForEnd(*next, 30000)) << "the new scan did not end";
  ASSERT_TRUE(WaitForEnd(*stopped));
  EXPECT_LE(probe.MostRunning(), 4) << "both scans' workers ran at once";
  EXPECT_EQ(next->StartedWorkers(), 8u) << "every address of the new scan gets its worker";
  // A worker leaves the census last of all, a moment after its report.
  EXPECT_TRUE(test::WaitUntil([&] { return census->Alive() == 0; })) << "every ended worker leaves the census";
}

// A stopped scan's workers stuck for good on echoes the service never
// answers fill the census: a new scan cannot start a single worker, and has
// no echo of its own to judge the service by. Past the patience it ends,
// once, with the silent service's message; the operator is not told first
// that it waits for room.
TEST_F(ScanEngineTest, ACensusFullOfStuckWorkersEndsANewScanAsSilent) {
  census = std::make_shared<WorkerCensus>(4);
  silentEchoGraceMs = 300;
  port->timeoutText = "1";
  probe.HoldEchoes(test::ScriptedProbe::Hold::kNever);
  auto stuck = Start("10.0.0.1", "10.0.0.20", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return probe.Running() == 4; }));
  stuck->Retire();
  auto next = Start("10.0.1.1", "10.0.1.8", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return next->IsRetired(); }, 15000)) << "the new scan waited without a word";
  EXPECT_EQ(port->silentReports.load(), 1);
  EXPECT_EQ(port->cannotStartReports.load(), 0);
  EXPECT_EQ(next->StartedWorkers(), 0u);
  ASSERT_TRUE(WaitForEnd(*next));
  EXPECT_EQ(port->silentReports.load(), 1);
  // The stuck workers use the fixture's probe: they must end before it goes.
  probe.ReleaseEchoes();
  ASSERT_TRUE(WaitForEnd(*stuck));
}

// The same wait behind a stopped scan whose echoes are merely slow (a
// minute-long time-out), with one more echo of the process lost long ago:
// past the patience the operator hears once that the scan waits, and it
// goes on as soon as room comes.
TEST_F(ScanEngineTest, ANewScanWaitingLongForRoomIsToldOnceAndGoesOn) {
  census = std::make_shared<WorkerCensus>(4);
  silentEchoGraceMs = 300;
  const auto lost = processEchoes->Begin(AwakeClockMs());
  port->timeoutText = "60000";
  probe.HoldEchoes(test::ScriptedProbe::Hold::kUntilTimeOut);
  auto stopped = Start("10.0.0.1", "10.0.0.20", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return probe.Running() == 4; }));
  stopped->Retire();
  auto next = Start("10.0.1.1", "10.0.1.8", 4);
  ASSERT_TRUE(test::WaitUntil([&] { return port->cannotStartReports.load() == 1; }, 15000)) << "never told";
  Sleep(300);
  EXPECT_EQ(port->cannotStartReports.load(), 1) << "told more than once";
  EXPECT_FALSE(next->IsRetired()) << "one lost echo among slow ones ended the scan";
  probe.ReleaseEchoes();
  ASSERT_TRUE(WaitForEnd(*next, 20000)) << "the new scan did not go on";
  EXPECT_EQ(next->StartedWorkers(), 8u);
  EXPECT_EQ(port->cannotStartReports.load(), 1);
  EXPECT_EQ(port->silentReports.load(), 0);
  ASSERT_TRUE(WaitForEnd(*stopped));
}

// With no address space to spare, workers start one at a time, each once
// the last has ended: the scan slows down but ends, and since every thread
// did start, the operator hears nothing.
TEST_F(ScanEngineTest, WithoutAddressSpaceToSpareWorkersStartOneAtATime) {
  std::atomic<int> checks{0};
  census = std::make_shared<WorkerCensus>(kMaxWorkers, [&checks] {
    ++checks;
    return false;
  });
  probe.delayMs = 30;
  auto run = Start("10.0.0.1", "10.0.0.6", 4);
  ASSERT_TRUE(WaitForEnd(*run)) << "the scan never ended";
  EXPECT_EQ(probe.Probed().size(), 6u);
  EXPECT_EQ(probe.MostRunning(), 1);
  EXPECT_GT(checks.load(), 0);
  EXPECT_EQ(port->cannotStartReports.load(), 0);
}

// The real check, against an address space filled by reservations: no room
// while it is full, room again once a block is given back. Only a 32-bit
// address space can be filled in a test.
TEST(AddressSpaceTest, AFullAddressSpaceHasNoRoomForAWorker) {
  if (sizeof(void*) > 4) GTEST_SKIP() << "a 64-bit address space is too large to fill";
  ASSERT_TRUE(AddressSpaceHasRoomForAWorker());
  std::vector<void*> blocks;
  for (SIZE_T size = SIZE_T{1} << 30; size >= 1024 * 1024; size /= 2) {
    while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) blocks.push_back(block);
  }
  const bool roomWhenFull = AddressSpaceHasRoomForAWorker();
  for (void* block : blocks) VirtualFree(block, 0, MEM_RELEASE);
  EXPECT_FALSE(roomWhenFull);
  EXPECT_TRUE(AddressSpaceHasRoomForAWorker());
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
    while (run.use_count() > 1 && GetTickCount() - start < test::TimeLimit(5000)) Sleep(1);
  }
  // The process's record of pending echoes is shared by every scan: the
  // runtime gives its mutex an event at its first contention, which may
  // come at any scan.
  EXPECT_LE(test::ProcessHandleCount(), before + 1);
}

}  // namespace
}  // namespace qv
