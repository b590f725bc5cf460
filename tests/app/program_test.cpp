// The program as the operator uses it, under a scripted probe: start-up,
// scans, the worker-count field, the status bar and progress bar, header
// sorts, stop and restart; then the system's echo probe with its modules
// taken away or failing.

// The socket headers must come before <windows.h>.
#include "scan/echo_probe.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/handlers.h"
#include "program_fixture.h"
#include "support/echo_binders.h"

namespace qv::test {
namespace {

using C = Component;

class ProgramTest : public ProgramFixture {
 protected:
  bool ScanAndWait(const std::string& first, const std::string& last) {
    SetRange(first, last);
    Click(C::按钮_开始扫描);
    return WaitForScanEnd() && WaitUntil([&] { return Idle(); });
  }
};

TEST_F(ProgramTest, StartsReadyWithTheRangeOfTheFirstLocalAddress) {
  EXPECT_EQ(OnUi([&] { return program_->Window().ReadAddress(C::IP编辑框_开始); }), "10.0.0.1");
  EXPECT_EQ(OnUi([&] { return program_->Window().ReadAddress(C::IP编辑框_结束); }), "10.0.0.255");
  EXPECT_EQ(Status(0), "准备就绪");
  EXPECT_EQ(Status(1), "");
  EXPECT_EQ(Field(C::编辑框_线程数), "100");
  EXPECT_EQ(Field(C::编辑框_延时), "100");
  EXPECT_TRUE(probe.Probed().empty()) << "nothing is probed before a start";
}

TEST_F(ProgramTest, WithoutALocalAddressTheFieldsStayBlank) {
  Close();
  Launch({});
  EXPECT_EQ(OnUi([&] { return program_->Window().ReadAddress(C::IP编辑框_开始); }), "");
  EXPECT_EQ(OnUi([&] { return program_->Window().ReadAddress(C::IP编辑框_结束); }), "");
  EXPECT_TRUE(OnUi([&] { return program_->State().ScanLock != 0; })) << "the lock exists all the same";
}

TEST_F(ProgramTest, WalksTheRangeInOrderAcrossAThirdFieldCarry) {
  WriteField(C::编辑框_线程数, "1");
  ASSERT_TRUE(ScanAndWait("192.168.1.254", "192.168.2.1"));
  EXPECT_EQ(probe.Probed(),
            (std::vector<std::string>{"192.168.1.254", "192.168.1.255", "192.168.2.0", "192.168.2.1"}));
  EXPECT_EQ(probe.MostRunning(), 1);
}

TEST_F(ProgramTest, NeverRunsMoreWorkersThanTheField) {
  probe.delayMs = 30;
  WriteField(C::编辑框_线程数, "4");
  ASSERT_TRUE(ScanAndWait("10.5.0.1", "10.5.0.40"));
  EXPECT_EQ(probe.Probed().size(), 40u);
  EXPECT_LE(probe.MostRunning(), 4);
}

TEST_F(ProgramTest, LiveHostsAreListedSortedByAddressWithTheirDetails) {
  probe.delayMs = 1;
  probe.SetLive({{"10.1.1.20", 7}, {"10.1.1.3", 0}});
  WriteField(C::编辑框_线程数, "1");
  ASSERT_TRUE(ScanAndWait("10.1.1.20", "10.1.1.20"));
  ASSERT_TRUE(ScanAndWait("10.1.1.1", "10.1.1.25"));
  EXPECT_EQ(ListColumn(0), (std::vector<std::string>{"10.1.1.003", "10.1.1.020"}));
  EXPECT_EQ(ListColumn(1), (std::vector<std::string>{"", "pc-10.1.1.20"}));
  EXPECT_EQ(ListColumn(2), (std::vector<std::string>{"02-00-00-00-00-03", "02-00-00-00-00-14"}));
  EXPECT_EQ(ListColumn(3), (std::vector<std::string>{"0", "7"}));
  EXPECT_EQ(Status(2), "存活主机数：2");
  EXPECT_EQ(Progress(), 0);
}

TEST_F(ProgramTest, TheListFollowsDiscoveryInAnyOrder) {
  probe.delayMs = 1;
  std::map<std::string, std::int32_t> live;
  for (int last : {200, 3, 77, 150, 9, 250, 100, 45}) live["10.2.0." + std::to_string(last)] = last;
  probe.SetLive(live);
  WriteField(C::编辑框_线程数, "50");
  ASSERT_TRUE(ScanAndWait("10.2.0.1", "10.2.0.254"));
  const auto shown = ListColumn(0);
  EXPECT_EQ(shown.size(), 8u);
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
  EXPECT_EQ(TableSize(), 8u);
}

// Rows stream in without painting; the list must still catch up on its
// own soon after, scroll bars included, with no further host to trigger it.
TEST_F(ProgramTest, AListFilledFasterThanItPaintsCatchesUpOnScreen) {
  std::map<std::string, std::int32_t> live;
  for (int last = 1; last <= 120; ++last) live["10.2.1." + std::to_string(last)] = 1;
  probe.SetLive(live);
  WriteField(C::编辑框_线程数, "100");
  ASSERT_TRUE(ScanAndWait("10.2.1.1", "10.2.1.120"));
  const HWND list = Handle(C::超级列表框1);
  const auto scrollRows = [&] {
    SCROLLINFO range{sizeof range, SIF_RANGE};
    return GetScrollInfo(list, SB_VERT, &range) ? range.nMax + 1 : 0;
  };
  EXPECT_TRUE(WaitUntil([&] { return scrollRows() == 120; }, 2000)) << "scroll range covers " << scrollRows();
}

TEST_F(ProgramTest, HeaderClicksAlternateAscendingAndDescending) {
  probe.SetLive({{"10.3.0.1", 5}, {"10.3.0.2", 12}, {"10.3.0.13", 2}});
  ASSERT_TRUE(ScanAndWait("10.3.0.1", "10.3.0.13"));
  ClickHeader(0);
  EXPECT_EQ(ListColumn(0), (std::vector<std::string>{"10.3.0.001", "10.3.0.002", "10.3.0.013"}));
  ClickHeader(0);
  EXPECT_EQ(ListColumn(0), (std::vector<std::string>{"10.3.0.013", "10.3.0.002", "10.3.0.001"}));
  ClickHeader(3);  // reply-time texts ascend byte-wise: "12" before "2"
  EXPECT_EQ(ListColumn(3), (std::vector<std::string>{"12", "2", "5"}));
  ClickHeader(2);  // the shared flag: now descending
  EXPECT_EQ(ListColumn(2), (std::vector<std::string>{"02-00-00-00-00-0D", "02-00-00-00-00-02", "02-00-00-00-00-01"}));
}

TEST_F(ProgramTest, WorkerCountFieldIsKeptBetweenOneAnd1024) {
  MessageBoxWatcher boxes;
  const std::string caption = WindowText(window_);
  struct Case {
    const char* typed;
    const char* kept;
    const char* message;
  };
  const Case cases[] = {{"0", "100", "数值必须大于0"},  {"-3", "100", "数值必须大于0"},
                        {"", "100", "数值必须大于0"},   {"1025", "100", "数值小于1024"},
                        {"1024", "1024", nullptr},      {"12abc", "12abc", nullptr},
                        {"\xA3\xB1\xA3\xB2", "\xA3\xB1\xA3\xB2", nullptr},
                        {"99999999999", "100", "数值小于1024"}};
  std::size_t expectedBoxes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SetWindowGbkText(Handle(C::编辑框_线程数), c.typed);  // as typing: the platform's own change notice
    if (c.message) {
      ASSERT_TRUE(boxes.WaitForCount(++expectedBoxes));
    }
    EXPECT_EQ(Field(C::编辑框_线程数), c.kept);
    if (c.message) {
      EXPECT_EQ(boxes.Seen().back().text, c.message);
      EXPECT_EQ(boxes.Seen().back().caption, caption);
      EXPECT_EQ(boxes.Seen().back().icon, LoadIconA(nullptr, IDI_EXCLAMATION));
    }
  }
  EXPECT_EQ(boxes.Seen().size(), expectedBoxes);
}

TEST_F(ProgramTest, SpinArrowsStepTheFieldAndItsLimitsStillHold) {
  MessageBoxWatcher boxes;
  auto spin = [&](const char* from, int step) {
    WriteField(C::编辑框_线程数, from);
    OnUi([&] {
      OnThreadCountSpin(program_->Window(), step);
      return 0;
    });
    return Field(C::编辑框_线程数);
  };
  EXPECT_EQ(spin("99", +1), "100");
  EXPECT_EQ(spin("7", -1), "6");
  EXPECT_EQ(spin("\xA3\xB5", +1), "6");  // full-width digits count
  EXPECT_TRUE(boxes.Seen().empty());
  EXPECT_EQ(spin("1024", +1), "100");
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Seen()[0].text, "数值小于1024");
  EXPECT_EQ(spin("1", -1), "100");
  ASSERT_TRUE(boxes.WaitForCount(2));
  EXPECT_EQ(boxes.Seen()[1].text, "数值必须大于0");
}

TEST_F(ProgramTest, NoticesDriveTheStatusBarAndTheProgressBar) {
  const HWND label = Handle(C::标签);
  EXPECT_EQ(SendMessageA(label, 0x8075, 3, 0), 0);
  EXPECT_EQ(Status(1), "线程： 3");
  EXPECT_EQ(Status(0), "正在扫描...");
  EXPECT_EQ(Progress(), 97);
  WriteField(C::编辑框_线程数, "10");
  SendMessageA(label, 0x8075, 100, 0);
  EXPECT_EQ(Progress(), 0) << "a negative share shows an empty bar";
  EXPECT_EQ(Status(1), "线程： 100");
  {
    MessageBoxWatcher boxes;
    SetWindowGbkText(Handle(C::编辑框_线程数), "");  // reset to 100, with a message
    ASSERT_TRUE(boxes.WaitForCount(1));
  }
  SendMessageA(label, 0x8075, 0, 0);
  EXPECT_EQ(Status(1), "线程： 0");
  EXPECT_EQ(Status(0), "准备就绪");
  EXPECT_EQ(Progress(), 0);
}

TEST_F(ProgramTest, AStartWithoutAWalkableRangeIsRefusedWithAMessage) {
  MessageBoxWatcher boxes;
  const std::string caption = WindowText(window_);
  const std::pair<const char*, const char*> ranges[] = {{"", "10.0.0.5"}, {"10.0.0.5", ""}, {"10.0.0.9", "10.0.0.8"}};
  std::size_t seen = 0;
  for (const auto& [first, last] : ranges) {
    SetRange(first, last);
    Click(C::按钮_开始扫描);
    ASSERT_TRUE(boxes.WaitForCount(++seen)) << first << " - " << last;
    EXPECT_EQ(boxes.Seen().back().caption, caption);
    EXPECT_EQ(boxes.Seen().back().icon, LoadIconA(nullptr, IDI_EXCLAMATION));
  }
  EXPECT_TRUE(probe.Probed().empty());
  EXPECT_FALSE(OnUi([&] { return static_cast<bool>(program_->State().currentScan); }));
}

TEST_F(ProgramTest, TimeOutFieldIsReadAsAnIntegerAndBounded) {
  WriteField(C::编辑框_线程数, "1");
  const std::pair<const char*, std::int32_t> cases[] = {
      {"0", 1}, {"-1", 1}, {"999999", 60000}, {"abc", 1}, {"250", 250}, {"\xA3\xB3\xA3\xB0", 30}};
  for (const auto& [text, expected] : cases) {
    probe.Forget();
    WriteField(C::编辑框_延时, text);
    ASSERT_TRUE(ScanAndWait("10.4.0.1", "10.4.0.1"));
    EXPECT_EQ(probe.Timeouts(), std::vector<std::int32_t>{expected}) << text;
  }
}

TEST_F(ProgramTest, StopIsImmediateKeepsTheRowsAndNothingArrivesAfterIt) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    probe.delayMs = 15;
    std::map<std::string, std::int32_t> live;
    for (int last = 1; last <= 60; last += 2) live["10.6.0." + std::to_string(last)] = 1;
    probe.SetLive(live);
    WriteField(C::编辑框_线程数, "8");
    SetRange("10.6.0.1", "10.6.0.60");
    Click(C::按钮_开始扫描);
    Sleep(static_cast<DWORD>(round % 7) * 9);
    Click(C::按钮2);
    // Before the stop handler returned, the window showed the idle state.
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Progress(), 0);
    const auto atStop = ListColumn(0);
    const std::size_t tableAtStop = TableSize();
    // Workers still inside their probe finish within their delay.
    ASSERT_TRUE(WaitUntil([&] { return probe.Running() == 0; }, 5000)) << "probes still running";
    Sleep(30);
    EXPECT_EQ(ListColumn(0), atStop) << "no row after the stop";
    EXPECT_EQ(TableSize(), tableAtStop);
    EXPECT_TRUE(Idle()) << "no notice after the stop";
  }
}

// Workers overlap here, so the probes may begin in any order (the order of
// dispatch is checked with one worker at a time); every address once is what
// counts.
TEST_F(ProgramTest, AThousandWorkersOnTinyRangesAcrossTheSecondFieldCarry) {
  const auto probedSet = [&] {
    std::vector<std::string> probed = probe.Probed();
    std::sort(probed.begin(), probed.end());
    return probed;
  };
  WriteField(C::编辑框_线程数, "1024");
  ASSERT_TRUE(ScanAndWait("10.9.255.254", "10.10.0.1"));
  EXPECT_EQ(probedSet(), (std::vector<std::string>{"10.10.0.0", "10.10.0.1", "10.9.255.254", "10.9.255.255"}));
  probe.Forget();
  ASSERT_TRUE(ScanAndWait("10.11.0.1", "10.11.0.2"));
  EXPECT_EQ(probedSet(), (std::vector<std::string>{"10.11.0.1", "10.11.0.2"}));
  EXPECT_EQ(Progress(), 0);
}

// The workers are still waiting for their echo when the operator stops:
// the window must not wait with them.
TEST_F(ProgramTest, StopDuringAMinuteLongTimeOutIsImmediate) {
  probe.delayMs = 3000;  // a silent range, cut short so the test ends
  WriteField(C::编辑框_延时, "60000");
  SetRange("10.12.0.1", "10.12.0.200");
  Click(C::按钮_开始扫描);
  Sleep(1000);
  ASSERT_GT(probe.Running(), 0);
  Click(C::按钮2);
  EXPECT_TRUE(Idle());
  EXPECT_EQ(Progress(), 0);
  EXPECT_GT(probe.Running(), 0) << "the stop returned without waiting for the probes";
  const auto timeouts = probe.Timeouts();
  EXPECT_EQ(std::count(timeouts.begin(), timeouts.end(), 60000), static_cast<std::ptrdiff_t>(timeouts.size()));
  EXPECT_TRUE(WaitUntil([&] { return probe.Running() == 0; }, 10000));
}

// No worker thread can be created for a long while (a stopped scan's
// workers still fill the address space): the operator is told once, in the
// window's caption, and the scan still probes every address.
TEST_F(ProgramTest, WorkersThatCannotStartAreToldOnceAndNoAddressIsLost) {
  MessageBoxWatcher boxes;
  threads.refuseWorker = [](int call) { return call >= 1 && call <= 70; };
  WriteField(C::编辑框_线程数, "1");
  ASSERT_TRUE(ScanAndWait("10.13.0.1", "10.13.0.3"));
  EXPECT_EQ(probe.Probed(), (std::vector<std::string>{"10.13.0.1", "10.13.0.2", "10.13.0.3"}));
  const auto seen = boxes.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "暂时无法创建扫描线程，扫描将在资源释放后继续。");
  EXPECT_EQ(seen[0].caption, WindowText(window_));
  EXPECT_EQ(seen[0].icon, LoadIconA(nullptr, IDI_EXCLAMATION));
}

// The box says the scan goes on once room comes; it must not wait for the
// operator to answer first.
TEST_F(ProgramTest, AScanToldItWaitsForRoomGoesOnBeforeTheOperatorAnswers) {
  MessageBoxWatcher boxes(MessageBoxWatcher::Answer::kWhenReleased);
  threads.refuseWorker = [](int call) { return call >= 1 && call <= 70; };
  WriteField(C::编辑框_线程数, "1");
  ASSERT_TRUE(ScanAndWait("10.13.1.1", "10.13.1.3")) << "the scan waited for the box to be answered";
  EXPECT_EQ(probe.Probed(), (std::vector<std::string>{"10.13.1.1", "10.13.1.2", "10.13.1.3"}));
  const auto seen = boxes.Seen();
  ASSERT_EQ(seen.size(), 1u) << "the box was not open while the scan went on";
  EXPECT_EQ(seen[0].text, "暂时无法创建扫描线程，扫描将在资源释放后继续。");
  boxes.Release();
}

// A scan waiting for room to start its workers is a scan under way: from
// the click on, the window never shows the idle state for it.
TEST_F(ProgramTest, AScanWaitingForRoomShowsThatItScans) {
  threads.refuseWorker = [](int) { return true; };
  SetRange("10.15.0.1", "10.15.0.5");
  Click(C::按钮_开始扫描);
  EXPECT_EQ(Status(0), "正在扫描...");
  EXPECT_EQ(Status(1), "线程： 0");
  Sleep(500);
  EXPECT_EQ(Status(0), "正在扫描...") << "while it waits";
  Click(C::按钮2);
  EXPECT_TRUE(Idle());
}

// With one worker at a time the count falls to 0 after every address; while
// the next cannot start, the scan is still under way, and only the last
// address's end is the scan's.
TEST_F(ProgramTest, ACountOfZeroBetweenTwoStartsIsNoEndOfTheScan) {
  MessageBoxWatcher boxes;
  threads.refuseWorker = [](int call) { return call >= 1 && call <= 12; };
  WriteField(C::编辑框_线程数, "1");
  SetRange("10.16.0.1", "10.16.0.2");
  Click(C::按钮_开始扫描);
  ASSERT_TRUE(WaitUntil([&] { return probe.Probed().size() == 1 && Status(1) == "线程： 0"; }));
  EXPECT_EQ(Status(0), "正在扫描...") << "while the second address waits for its worker";
  ASSERT_TRUE(WaitForScanEnd());
  EXPECT_TRUE(WaitUntil([&] { return Idle(); })) << "the last worker's end is the scan's";
  EXPECT_EQ(probe.Probed().size(), 2u);
  EXPECT_TRUE(boxes.Seen().empty()) << "1.2 s of waiting is within the patience";
}

// The old scan is retired before the new dispatcher is asked for; when
// none can be created the window must not go on saying it scans.
TEST_F(ProgramTest, AStartWhoseDispatcherCannotBeCreatedShowsTheIdleState) {
  probe.delayMs = 100;
  WriteField(C::编辑框_线程数, "4");
  SetRange("10.14.0.1", "10.14.0.200");
  Click(C::按钮_开始扫描);
  ASSERT_TRUE(WaitUntil([&] { return Status(0) == "正在扫描..."; })) << "the first scan never showed";
  threads.refuseDispatcher = true;
  Click(C::按钮_开始扫描);
  EXPECT_TRUE(Idle());
  EXPECT_EQ(Progress(), 0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Running() == 0; })) << "the retired scan's probes still run";
  EXPECT_TRUE(Idle()) << "no notice of the retired scan";
  threads.refuseDispatcher = false;
}

// A window closed one second into a scan with a minute-long time-out goes
// at once. Under Wine the program ends only when the echoes it sent have
// returned, so none is cancelled, and no echo begins after the close; on
// Windows it ends with the window.
class ClosingDuringAMinuteLongTimeOut : public ProgramTest {
 protected:
  void CloseOneSecondIntoTheScan() {
    probe.HoldEchoes(ScriptedProbe::Hold::kUntilTimeOut);
    WriteField(C::编辑框_延时, "60000");
    SetRange("10.13.0.1", "10.13.0.200");
    Click(C::按钮_开始扫描);
    // A worker starts every 10 ms: about one second into the scan.
    ASSERT_TRUE(WaitUntil([&] { return probe.Running() >= 90; }, 10000));
    PostMessageA(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(window_); }, 10000)) << "the window did not go at once";
  }
};

TEST_F(ClosingDuringAMinuteLongTimeOut, OnWindowsEndsTheProgramWithTheWindow) {
  platformIsWine = false;
  CloseOneSecondIntoTheScan();
  EXPECT_TRUE(WaitUntil([&] { return Ended(); }, 1000)) << "waited for the pending echoes";
  EXPECT_GT(probe.Running(), 0) << "no echo was pending at the end";
  probe.ReleaseEchoes();
  EXPECT_TRUE(WaitUntil([&] { return probe.Running() == 0; }, 5000)) << "the scan's workers did not wind down";
}

TEST_F(ClosingDuringAMinuteLongTimeOut, UnderWineEndsOnceThePendingEchoesReturn) {
  platformIsWine = true;
  CloseOneSecondIntoTheScan();
  const std::size_t probedAtClose = probe.Probed().size();
  EXPECT_FALSE(WaitUntil([&] { return Ended(); }, 500)) << "ended with echoes pending";
  EXPECT_EQ(static_cast<std::size_t>(probe.Running()), probedAtClose);
  probe.ReleaseEchoes();
  EXPECT_TRUE(WaitUntil([&] { return Ended(); }, 5000)) << "still waiting once every echo returned";
  EXPECT_EQ(probe.Probed().size(), probedAtClose) << "an echo began after the close";
}

// Echoes that never return, as from an echo service that has stopped
// answering: ten seconds past their time-out the scan ends as after a stop
// and the operator is told once, whether the dispatcher was still waiting
// for a free worker or had walked the whole range.
TEST_F(ProgramTest, AnEchoServiceThatStopsAnsweringEndsTheScanWithOneMessage) {
  MessageBoxWatcher boxes;
  const std::string caption = WindowText(window_);
  probe.HoldEchoes(ScriptedProbe::Hold::kNever);
  WriteField(C::编辑框_延时, "1");
  const std::pair<const char*, const char*> scans[] = {{"4", "10.14.0.20"}, {"100", "10.14.0.3"}};
  std::size_t seen = 0;
  for (const auto& [workers, last] : scans) {
    SCOPED_TRACE(workers);
    WriteField(C::编辑框_线程数, workers);
    SetRange("10.14.0.1", last);
    const DWORD start = GetTickCount();
    Click(C::按钮_开始扫描);
    ASSERT_TRUE(boxes.WaitForCount(++seen, 30000)) << "the operator was never told";
    EXPECT_GE(GetTickCount() - start, 10000u);
    EXPECT_EQ(boxes.Seen().back().text, "系统的回显服务没有响应");
    EXPECT_EQ(boxes.Seen().back().caption, caption);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Progress(), 0);
    EXPECT_FALSE(OnUi([&] { return static_cast<bool>(program_->State().currentScan); }));
  }
  EXPECT_EQ(probe.Probed().size(), 4u + 3u) << "no echo after a scan ended";
  probe.ReleaseEchoes();
  ASSERT_TRUE(WaitUntil([&] { return probe.Running() == 0; }));
  EXPECT_FALSE(boxes.WaitForCount(seen + 1, 500)) << "told more than once";
  EXPECT_TRUE(Idle());
  EXPECT_TRUE(ListColumn(0).empty());
}

TEST_F(ProgramTest, RestartsAndHeaderClicksDuringScansNeverMixScans) {
  std::map<std::string, std::int32_t> live;
  for (int last = 1; last <= 40; ++last) live["10.7.0." + std::to_string(last)] = 1;
  live["10.8.0.2"] = 1;
  probe.SetLive(live);
  probe.delayMs = 5;
  WriteField(C::编辑框_线程数, "6");
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    SetRange("10.7.0.1", "10.7.0.40");
    Click(C::按钮_开始扫描);
    Sleep(static_cast<DWORD>(round % 5) * 6);
    ClickHeader(round % 4);
    if (round % 2) Click(C::按钮2);  // stop, then start at once
    SetRange("10.8.0.1", "10.8.0.3");
    Click(C::按钮_开始扫描);
    ASSERT_TRUE(WaitForScanEnd()) << "the restarted scan did not end";
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(ListColumn(0), std::vector<std::string>{"10.8.0.002"}) << "only the second scan's host";
    EXPECT_EQ(TableSize(), 1u);
  }
}

TEST_F(ProgramTest, TwentyQuickStartsEndInOneConsistentScan) {
  std::map<std::string, std::int32_t> live;
  for (int last = 1; last <= 30; last += 3) live["10.9.0." + std::to_string(last)] = 2;
  probe.SetLive(live);
  probe.delayMs = 3;
  SetRange("10.9.0.1", "10.9.0.30");
  for (int i = 0; i < 20; ++i) Click(C::按钮_开始扫描);
  ASSERT_TRUE(WaitForScanEnd());
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
  const auto shown = ListColumn(0);
  EXPECT_EQ(shown.size(), 10u);
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
  EXPECT_EQ(Status(2), "存活主机数：10");
}

TEST_F(ProgramTest, ScansInARowLeaveTheHandleCountWhereItWas) {
  WriteField(C::编辑框_线程数, "5");
  ASSERT_TRUE(ScanAndWait("10.10.0.1", "10.10.0.5"));
  // A finished run keeps its thread handles until the next start or stop.
  Click(C::按钮2);
  auto allRunsFreed = [&] { return WaitUntil([&] { return probe.Running() == 0; }) && (Sleep(20), true); };
  ASSERT_TRUE(allRunsFreed());
  const long before = ProcessHandleCount();
  const long threadsBefore = ThreadHandleCount();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ScanAndWait("10.10.0.1", "10.10.0.5"));
  Click(C::按钮2);
  ASSERT_TRUE(allRunsFreed());
  EXPECT_TRUE(WaitUntil([&] { return ThreadHandleCount() == threadsBefore; }, 3000))
      << "thread handles before " << threadsBefore << ", after " << ThreadHandleCount();
  EXPECT_LE(ProcessHandleCount(), before + kLazyMutexHandles) << "before " << before;
}

TEST_F(ProgramTest, ClosingTheWindowDuringAScanRemovesItAtOnceAndEndsTheProgramPromptly) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    std::map<std::string, std::int32_t> live;
    for (int last = 1; last <= 50; last += 2) live["10.11.0." + std::to_string(last)] = 1;
    probe.SetLive(live);
    probe.delayMs = 10;
    WriteField(C::编辑框_线程数, "10");
    SetRange("10.11.0.1", "10.11.0.50");
    Click(C::按钮_开始扫描);
    Sleep(static_cast<DWORD>(round % 6) * 8);
    const DWORD start = GetTickCount();
    PostMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window_); }, 10000)) << "the window did not go at once";
    // The program ends once the echoes under way (10 ms each) have returned;
    // the rest of the scan's workers wind down without touching it.
    Close();
    EXPECT_LT(GetTickCount() - start, TimeLimit(3000));
    EXPECT_EQ(probe.Running(), 0) << "the program ended with an echo pending";
    Launch({"10.0.0.7"});
  }
}

// The program with the system's echo probe, its functions bound through a
// binder each case chooses, echoing to the loopback address only; names and
// MACs stay scripted.
class ProgramEchoFunctionsTest : public ProgramTest {
 protected:
  void SetUp() override {}  // every case launches with its own binder

  ProbeServices LaunchProbe() override {
    ProbeServices services = probe.Services();
    services.echo = [service = BindEchoService(binder_)](const std::string& address, std::int32_t timeout) {
      return ProbeEcho(*service, address, timeout, true);
    };
    return services;
  }

  void LaunchWith(ModuleBinder binder) {
    Close();
    binder_ = std::move(binder);
    Launch({"127.0.0.1"});
    WriteField(C::编辑框_延时, "2000");
  }

  ModuleBinder binder_;
};

TEST_F(ProgramEchoFunctionsTest, WithoutIcmpDllTheLoopbackAnswersThroughIphlpapi) {
  const ModuleStandIns cases[] = {{{"ICMP.DLL", ""}}, {{"ICMP.DLL", "version.dll"}}};
  for (const ModuleStandIns& standIns : cases) {
    SCOPED_TRACE(standIns.front().second);
    ASSERT_NO_FATAL_FAILURE(LaunchWith(SystemModulesWith(standIns)));
    MessageBoxWatcher boxes;
    ASSERT_TRUE(ScanAndWait("127.0.0.1", "127.0.0.1"));
    EXPECT_EQ(ListColumn(0), std::vector<std::string>{"127.0.0.001"});
    EXPECT_TRUE(boxes.Seen().empty());
  }
}

// No echo can be sent: the scan ends at once with the silent service's
// message, never as an empty network.
TEST_F(ProgramEchoFunctionsTest, WithoutAWayToSendTheScanEndsWithOneMessage) {
  struct Case {
    const char* name;
    ModuleBinder binder;
  };
  const Case cases[] = {
      {"no modules", SystemModulesWith({{"ICMP.DLL", ""}, {"iphlpapi.dll", ""}})},
      {"modules without the functions", SystemModulesWith({{"ICMP.DLL", "version.dll"}, {"iphlpapi.dll", "version.dll"}})},
      {"IcmpCreateFile denied", SystemModulesWithCreateDenied()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(LaunchWith(c.binder));
    MessageBoxWatcher boxes;
    const std::string caption = WindowText(window_);
    SetRange("127.0.0.1", "127.0.0.1");
    Click(C::按钮_开始扫描);
    ASSERT_TRUE(boxes.WaitForCount(1)) << "the operator was never told";
    EXPECT_EQ(boxes.Seen()[0].text, "系统的回显服务没有响应");
    EXPECT_EQ(boxes.Seen()[0].caption, caption);
    EXPECT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_FALSE(OnUi([&] { return static_cast<bool>(program_->State().currentScan); }));
    EXPECT_TRUE(ListColumn(0).empty());
    EXPECT_FALSE(boxes.WaitForCount(2, 500)) << "told more than once";
  }
}

TEST_F(ProgramEchoFunctionsTest, StartsInARowWithoutAWayToSendTellOncePerScan) {
  ASSERT_NO_FATAL_FAILURE(LaunchWith(SystemModulesWith({{"ICMP.DLL", ""}, {"iphlpapi.dll", ""}})));
  MessageBoxWatcher boxes;
  SetRange("127.0.0.1", "127.0.0.1");
  for (std::size_t scan = 1; scan <= 4; ++scan) {
    SCOPED_TRACE(scan);
    Click(C::按钮_开始扫描);
    ASSERT_TRUE(boxes.WaitForCount(scan));
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
  }
  // Quick starts retire one another before their message comes.
  constexpr std::size_t kQuickStarts = 8;
  for (std::size_t i = 0; i < kQuickStarts; ++i) Click(C::按钮_开始扫描);
  ASSERT_TRUE(boxes.WaitForCount(5, 20000)) << "the last start was never told";
  ASSERT_TRUE(WaitForScanEnd());
  EXPECT_TRUE(WaitUntil([&] { return Idle(); }));
  const std::size_t told = boxes.Seen().size();
  EXPECT_LE(told, 4 + kQuickStarts);
  EXPECT_FALSE(boxes.WaitForCount(told + 1, 500)) << "a message without a scan";
  for (const SeenMessageBox& box : boxes.Seen()) EXPECT_EQ(box.text, "系统的回显服务没有响应");
}

}  // namespace
}  // namespace qv::test
