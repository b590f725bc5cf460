// The whole program on the virtual LAN while Wine's network service, which
// carries out every echo, stops answering in the middle of a sweep: the
// harness (run_lan_test.sh) stops the bed prefix's winedevice.exe with
// SIGSTOP when this test asks and continues it after the seconds asked for.
// Stopped for longer than the silent bound, the sweep ends with one message;
// stopped for less, it goes on to its end. Either way the next sweep finds
// every host. The harness names the truth file (QV_LAN_TRUTH), the program
// (QV_LAN_PROGRAM) and the folder a stall is asked for through
// (QV_LAN_CONTROL); the bed has one host beyond the first few (CTest sets
// TESTBED_EXTRA_HOSTS), and the sweeps end at it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lan/lan_rows.h"
#include "lan/lan_truth.h"
#include "scan/scan_engine.h"
#include "support/now_ms.h"
#include "support/program_driver.h"
#include "support/window_driver.h"

namespace qv::test {
namespace {

// 8 workers, and a time-out that every address without a host waits out:
// the walk to the last host, past some 90 such addresses, takes about 12 s,
// and a stall begun once the first hosts are listed falls inside it.
constexpr int kStallSweepWorkers = 8;
constexpr int kTimeoutMs = 1000;
// The service counts as silent once echoes have been pending unanswered for
// the largest pending time-out plus the grace: 11 s here.
constexpr std::uint32_t kSilentAfterMs = kTimeoutMs + kSilentEchoServiceGraceMs;
constexpr int kLongStallS = 20;
constexpr int kShortStallS = 5;
static_assert(kLongStallS * 1000 >= kSilentAfterMs + 5000 && kShortStallS * 1000 + 5000 <= kSilentAfterMs,
              "each stall is clear of the silent bound by seconds, whatever the harness's pace");
// The sweep after the stall only has to find every host: a few seconds.
constexpr int kNextSweepWorkers = 64;

constexpr DWORD kWindowLimitMs = 60000;
// The window reads idle only once the scan has ended; held for a second, so
// that a status bar caught mid-change is not taken for the end.
constexpr DWORD kIdleHoldMs = 1000;
constexpr DWORD kSweepLimitMs = 120000;
// The harness looks for a request once a second.
constexpr DWORD kHarnessLimitMs = 30000;
constexpr DWORD kMessageLimitMs = 60000;
// Each look at the window is messages its UI thread must answer mid-sweep.
constexpr DWORD kLookEveryMs = 50;
// How often the program's message boxes are looked for: the time a message
// was shown is read to that.
constexpr DWORD kAnswerEveryMs = 20;
constexpr const char* kSilentMessage = "系统的回显服务没有响应";

double Seconds(double fromMs, double toMs) { return (toMs - fromMs) / 1000.0; }

// The harness's side of a stall, through files in the control folder.
class ServiceStall {
 public:
  explicit ServiceStall(std::string folder) : folder_(std::move(folder)) {}

  // An earlier stall's acknowledgement goes first, so it cannot be taken
  // for this one's.
  bool Request(int seconds) const {
    DeleteFileA(Path("stall-stopped").c_str());
    const std::string part = Path("stall-request.part");
    {
      std::ofstream file(part, std::ios::binary);
      file << seconds;
      if (!file) return false;
    }
    return MoveFileExA(part.c_str(), Path("stall-request").c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }
  bool WaitStopped() const { return WaitUntil([&] { return Exists("stall-stopped"); }, kHarnessLimitMs, 20); }
  bool Continued() const { return Exists("stall-continued"); }
  bool WaitContinued() const {
    return WaitUntil([&] { return Continued(); }, kHarnessLimitMs + kLongStallS * 1000, 20);
  }
  // The PIDs of the stopped winedevice.exe processes, as the harness wrote them.
  std::string StoppedProcesses() const {
    std::ifstream file(Path("stall-stopped"));
    std::string pids;
    std::getline(file, pids);
    return pids;
  }

 private:
  std::string Path(const char* name) const { return folder_ + "\\" + name; }
  bool Exists(const char* name) const { return GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::string folder_;
};

class LanEchoStall : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    truth_ = ReadTruth(std::getenv("QV_LAN_TRUTH"));
    hosts_ = ExpectedRows(truth_);
  }

  void SetUp() override {
    const char* program = std::getenv("QV_LAN_PROGRAM");
    const char* control = std::getenv("QV_LAN_CONTROL");
    ASSERT_GE(truth_.size(), 4u) << "truth file missing or malformed; run through tests/lan/run_lan_test.sh";
    ASSERT_TRUE(program && control) << "no program or control folder; run through tests/lan/run_lan_test.sh";
    ASSERT_GE(hosts_.size(), 3u);
    const std::string prefix = Prefix(truth_.front().address);
    ASSERT_GE(std::atoi(hosts_.back().address.c_str() + prefix.size()), 100)
        << "no host far enough into the range to end the sweeps at: TESTBED_EXTRA_HOSTS unset?";
    stall_.emplace(control);
    program_ = std::make_unique<LaunchedProgram>(std::string("\"") + program + "\"");
    ASSERT_TRUE(program_->started()) << "could not start " << program;
    driver_ = ProgramDriver::Attach(program_->id(), kWindowLimitMs);
    ASSERT_TRUE(driver_) << "the main window with all its components did not appear";
    // Nothing is started unless the range is the bed's own, so no probe
    // can leave the virtual LAN.
    ASSERT_EQ(driver_->ReadAddress(Component::IP编辑框_开始), prefix + "1") << "not the bed's range: not scanning";
    ASSERT_EQ(driver_->ReadAddress(Component::IP编辑框_结束), prefix + "255") << "not the bed's range: not scanning";
    ASSERT_TRUE(driver_->WriteAddress(Component::IP编辑框_结束, hosts_.back().address));
    messages_.emplace(MessageBoxWatcher::Answer::kAtOnce, driver_->Dialogs(), kAnswerEveryMs);
  }
  void TearDown() override {
    // A program closed into a stopped service would wait for its echoes
    // and be ended with them pending: a failed case waits out its stall.
    if (stallRequested_) stall_->WaitContinued();
    messages_.reset();
    driver_.reset();
    program_.reset();  // closes the window; ends the process if it lingers
  }

  void StartSweep(int workers) {
    ASSERT_TRUE(driver_->WriteText(Component::编辑框_线程数, std::to_string(workers)));
    ASSERT_TRUE(driver_->WriteText(Component::编辑框_延时, std::to_string(kTimeoutMs)));
    ASSERT_EQ(driver_->ReadText(Component::编辑框_线程数), std::to_string(workers));
    ASSERT_EQ(driver_->ReadText(Component::编辑框_延时), std::to_string(kTimeoutMs));
    ASSERT_TRUE(driver_->Click(Component::按钮_开始扫描));
    sweepStartMs_ = NowMs();
  }

  std::size_t ListedRows() const { return driver_->ReadRows().size(); }

  // Once every host but the last is listed, the scan has sent and been
  // answered echoes, and its walk is on its way past the addresses that do
  // not answer, each echo pending for its whole second.
  void StopServiceMidSweep(int seconds) {
    ASSERT_NO_FATAL_FAILURE(StartSweep(kStallSweepWorkers));
    ASSERT_TRUE(WaitUntil([&] { return ListedRows() >= hosts_.size() - 1; }, kWindowLimitMs, kLookEveryMs))
        << "the sweep did not get under way: " << ListedRows() << " rows";
    ASSERT_TRUE(stall_->Request(seconds)) << "could not write the stall request";
    stallRequested_ = true;
    ASSERT_TRUE(stall_->WaitStopped()) << "the harness did not stop Wine's network service";
    stoppedAtMs_ = NowMs();
    ASSERT_EQ(ListedRows(), hosts_.size() - 1) << "the walk reached its end before the service was stopped";
    std::printf("[figures] winedevice.exe %s stopped for %d s, %.1f s into the sweep\n",
                stall_->StoppedProcesses().c_str(), seconds, Seconds(sweepStartMs_, stoppedAtMs_));
  }

  // The window idle, as the operator sees it: (NowMs) when it became so.
  double WaitForIdleWindow() {
    double idleSinceMs = 0;
    EXPECT_TRUE(driver_->WaitForScanEnd(kIdleHoldMs, kSweepLimitMs, &idleSinceMs))
        << "still scanning: status bar shows '" << driver_->StatusPart(0) << "' and '" << driver_->StatusPart(1)
        << "'";
    return idleSinceMs;
  }

  // The last host listed, then the window idle: the walk is over and so
  // are its workers. A message ends the sweep too.
  double WaitForSweepEnd() {
    const std::size_t told = messages_->Seen().size();
    EXPECT_TRUE(WaitUntil([&] { return ListedRows() == hosts_.size() || messages_->Seen().size() > told; },
                          kSweepLimitMs, kLookEveryMs) &&
                messages_->Seen().size() == told)
        << "the walk did not reach the last host: " << ListedRows() << " rows, "
        << messages_->Seen().size() - told << " messages meanwhile";
    return WaitForIdleWindow();
  }

  // The service answers again: a sweep finds every host.
  void SweepAgainFindingEveryHost() {
    ASSERT_NO_FATAL_FAILURE(StartSweep(kNextSweepWorkers));
    const double endMs = WaitForSweepEnd();
    const std::vector<ListRow> rows = driver_->ReadRows();
    std::printf("[figures] next sweep: %.1f s, %u rows (%u hosts answer)\n", Seconds(sweepStartMs_, endMs),
                static_cast<unsigned>(rows.size()), static_cast<unsigned>(hosts_.size()));
    ExpectRowsMatchTruth(rows, truth_, kTimeoutMs);
  }

  static inline std::vector<TruthRow> truth_;
  static inline std::vector<TruthRow> hosts_;
  std::optional<ServiceStall> stall_;
  std::unique_ptr<LaunchedProgram> program_;
  std::optional<ProgramDriver> driver_;
  std::optional<MessageBoxWatcher> messages_;
  bool stallRequested_ = false;
  double sweepStartMs_ = 0;
  double stoppedAtMs_ = 0;
};

TEST_F(LanEchoStall, ServiceStoppedPastTheBoundEndsTheSweepWithOneMessage) {
  ASSERT_NO_FATAL_FAILURE(StopServiceMidSweep(kLongStallS));
  ASSERT_TRUE(messages_->WaitForCount(1, kMessageLimitMs)) << "the operator was never told";
  const double toldAtMs = messages_->FirstSeenMs();
  EXPECT_FALSE(stall_->Continued()) << "told only once the service answered again";
  WaitForIdleWindow();
  EXPECT_FALSE(stall_->Continued()) << "the window waited for the service to answer again";
  EXPECT_EQ(driver_->FindDialog(), nullptr) << "the message is still open";
  std::printf("[figures] %d s stall: told %.1f s into it (bound %.1f s since the last answer), sweep ended by the "
              "message %.1f s after its start, %u rows\n",
              kLongStallS, Seconds(stoppedAtMs_, toldAtMs), kSilentAfterMs / 1000.0, Seconds(sweepStartMs_, toldAtMs),
              static_cast<unsigned>(ListedRows()));

  ASSERT_TRUE(stall_->WaitContinued()) << "the harness did not continue Wine's network service";
  ASSERT_NO_FATAL_FAILURE(SweepAgainFindingEveryHost());

  const std::vector<SeenMessageBox> seen = messages_->Seen();
  std::printf("[figures] messages seen: %u\n", static_cast<unsigned>(seen.size()));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, kSilentMessage);
  EXPECT_EQ(seen[0].caption, kWindowCaption);
}

TEST_F(LanEchoStall, ServiceStoppedWithinTheBoundLetsTheSweepRunToItsEnd) {
  ASSERT_NO_FATAL_FAILURE(StopServiceMidSweep(kShortStallS));
  ASSERT_TRUE(stall_->WaitContinued()) << "the harness did not continue Wine's network service";
  ASSERT_TRUE(messages_->Seen().empty()) << "told '" << messages_->Seen()[0].text << "' "
                                         << Seconds(stoppedAtMs_, messages_->FirstSeenMs())
                                         << " s into a stall shorter than the silent bound";
  const double endMs = WaitForSweepEnd();
  const std::vector<ListRow> rows = driver_->ReadRows();
  std::printf("[figures] %d s stall: sweep %.1f s, %u rows\n", kShortStallS, Seconds(sweepStartMs_, endMs),
              static_cast<unsigned>(rows.size()));
  ExpectRowsMatchTruth(rows, truth_, kTimeoutMs);

  ASSERT_NO_FATAL_FAILURE(SweepAgainFindingEveryHost());
  std::printf("[figures] messages seen: %u\n", static_cast<unsigned>(messages_->Seen().size()));
  for (const SeenMessageBox& message : messages_->Seen()) ADD_FAILURE() << "message '" << message.text << "'";
}

}  // namespace
}  // namespace qv::test
