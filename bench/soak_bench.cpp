// Many sweeps of one program instance, driven from this process: starts the
// scanner, sets the range, worker count and time-out, then sweeps again and
// again, each time waiting for the idle state and checking the list against
// the truth file. One line per sweep for bench/run_soak.sh:
//
//   sweep ended=1 wall_ms=... floor_ms=... expected=... found=... wrong_names=... wrong_macs=... not_in_truth=...
//   sweep ended=0 reason=... status='...' '...' rows=... threads=...
//   program_ended exit_code=0x...        (the program's process went away)
//   close window_gone_ms=... exit_ms=... exit_code=0x...   (--close-after)
//
//   soak_bench.exe <quorvane.exe> <scanner address> <first> <last> <workers>
//                  <time-out ms> --truth <file> --sweeps <count> [--close-after <ms>]
//
// --close-after: before the sweeps, another instance starts a scan and has
// its window closed that many milliseconds into it; the line tells how soon
// the window went and the process ended.
//
// Exits 0 when every sweep ended, 1 when one did not, 3 when the program's
// process ended by itself, 4 when it could not be set up, 2 on bad usage.
// Like scan_bench.exe it refuses to scan unless the program pre-filled the
// scanner's own range, so every probe stays inside the virtual LAN.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/program_driver.h"
#include "support/window_driver.h"
#include "driven_scan.h"
#include "thread_count.h"
#include "scan_range.h"
#include "truth_recall.h"

namespace {

using qv::Component;
using namespace qv::test;
using qv::bench::DrivenSession;

constexpr DWORD kLookEveryMs = 10;
constexpr DWORD kExitLimitMs = 30000;
// How long an answered message box may take to close.
constexpr DWORD kAnswerLimitMs = 10000;
// A sweep has stopped when its window shows no change of its worker count
// or its live hosts for this long while not idle (the scanner's own give-up
// on a silent echo service comes well before); on a loaded machine a sweep
// that moves may take many times its floor.
constexpr double kStallMs = 30000;
constexpr double kSweepLimitFloors = 20;
constexpr double kProgressLookEveryMs = 500;

enum ExitStatus {
  kAllEnded = 0,
  kSweepHung = 1,
  kBadUsage = qv::bench::kBadUsageStatus,
  kProgramEnded = 3,
  kSetUpFailed = 4,
};

struct Options : qv::bench::ScanArguments {
  std::string truth;
  int sweeps = 0;
  int closeAfterMs = -1;
};

DWORD ExitCode(const LaunchedProgram& program) {
  DWORD code = 0;
  GetExitCodeProcess(program.handle(), &code);
  return code;
}

enum class SweepEnd { Idle, ProgramEnded, MessageBox, Stalled };

// Waits for the idle state held kIdleHoldMs, for the program's process to
// end, for a message box of the program, or for the window to stop changing
// (kStallMs, or limitMs in all), whichever comes first.
SweepEnd WaitForSweepEnd(const DrivenSession& session, double limitMs, double* idleSince, std::string* message) {
  const ProgramDriver& driver = *session.driver;
  const double start = NowMs();
  bool idle = false;
  std::string shown;
  double changed = start;
  double looked = 0;
  for (double now = start; now - start <= limitMs && now - changed <= kStallMs; now = NowMs()) {
    if (session.program.WaitForExit(0)) return SweepEnd::ProgramEnded;
    if (const auto shown = driver.AnswerOpenMessage(kAnswerLimitMs)) {
      *message = shown->text;
      return SweepEnd::MessageBox;
    }
    if (!driver.IsIdle()) {
      idle = false;
      if (now - looked >= kProgressLookEveryMs) {
        looked = now;
        std::string nowShown = driver.StatusPart(1) + driver.StatusPart(2);
        if (nowShown != shown) {
          shown = std::move(nowShown);
          changed = now;
        }
      }
    } else {
      if (!idle) *idleSince = now;
      idle = true;
      if (now - *idleSince >= qv::bench::kIdleHoldMs) return SweepEnd::Idle;
    }
    Sleep(kLookEveryMs);
  }
  return SweepEnd::Stalled;
}

void PrintProgramEnded(const LaunchedProgram& program) {
  std::printf("program_ended exit_code=0x%08lx\n", static_cast<unsigned long>(ExitCode(program)));
}

// One sweep; false when the program cannot sweep again.
bool Sweep(const DrivenSession& session, double floorMs, const std::vector<TruthRow>& truth, ExitStatus* status) {
  const ProgramDriver& driver = *session.driver;
  const double start = NowMs();
  if (!driver.Click(Component::按钮_开始扫描)) {
    if (session.program.WaitForExit(0)) {
      PrintProgramEnded(session.program);
      *status = kProgramEnded;
    } else {
      std::printf("sweep ended=0 reason=start_not_clicked\n");
      *status = kSweepHung;
    }
    return false;
  }
  double idleSince = 0;
  std::string message;
  switch (WaitForSweepEnd(session, kSweepLimitFloors * floorMs + kStallMs, &idleSince, &message)) {
    case SweepEnd::Idle:
      break;
    case SweepEnd::ProgramEnded:
      PrintProgramEnded(session.program);
      *status = kProgramEnded;
      return false;
    case SweepEnd::MessageBox:
      std::printf("sweep ended=0 reason=message_box message='%s' after_ms=%.0f\n", message.c_str(), NowMs() - start);
      *status = kSweepHung;
      return false;
    case SweepEnd::Stalled:
      std::printf("sweep ended=0 reason=stalled status='%s' '%s' '%s' rows=%zu threads=%d after_ms=%.0f\n",
                  driver.StatusPart(0).c_str(), driver.StatusPart(1).c_str(), driver.StatusPart(2).c_str(),
                  driver.ReadRows().size(), qv::bench::ThreadCount(driver.ProcessId()), NowMs() - start);
      *status = kSweepHung;
      return false;
  }
  const qv::bench::Recall recall = qv::bench::CompareWithTruth(driver.ReadRows(), truth);
  std::printf(
      "sweep ended=1 wall_ms=%.1f floor_ms=%.0f expected=%d found=%d wrong_names=%d wrong_macs=%d not_in_truth=%d\n",
      idleSince - start, floorMs, recall.expected, recall.found, recall.wrongNames, recall.wrongMacs,
      recall.notInTruth);
  return true;
}

// Another instance has its window closed closeAfterMs into a scan.
ExitStatus CloseDuringScan(const Options& options) {
  DrivenSession session(options);
  if (!session.driver || !session.driver->Click(Component::按钮_开始扫描)) return kSetUpFailed;
  Sleep(static_cast<DWORD>(options.closeAfterMs));
  const double closed = NowMs();
  session.driver->Close();
  const HWND window = session.driver->Window();
  const bool gone = WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, kExitLimitMs);
  const double goneMs = NowMs() - closed;
  const bool ended = session.program.WaitForExit(kExitLimitMs);
  std::printf("close window_gone_ms=%.0f exit_ms=%.0f exit_code=0x%08lx\n", gone ? goneMs : -1.0,
              ended ? NowMs() - closed : -1.0, static_cast<unsigned long>(ended ? ExitCode(session.program) : 0));
  std::fflush(stdout);
  return gone && ended ? kAllEnded : kSweepHung;
}

int Run(const Options& options) {
  const std::optional<std::uint32_t> addressCount =
      qv::bench::AddressesInScannerNet(options.scanner, options.first, options.last);
  if (!addressCount) return kBadUsage;
  const std::vector<TruthRow> truth = ReadTruth(options.truth.c_str());
  if (truth.empty()) {
    std::fprintf(stderr, "no truth in %s\n", options.truth.c_str());
    return kBadUsage;
  }
  if (options.closeAfterMs >= 0) {
    const ExitStatus closed = CloseDuringScan(options);
    if (closed != kAllEnded) return closed;
  }
  DrivenSession session(options);
  if (!session.driver) return session.program.WaitForExit(0) ? kProgramEnded : kSetUpFailed;
  ExitStatus status = kAllEnded;
  const double floorMs = qv::bench::ScanFloorMs(*addressCount, options.timeoutMs);
  for (int i = 0; i < options.sweeps && Sweep(session, floorMs, truth, &status); ++i) std::fflush(stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const bool understood = qv::bench::ReadCommandLine(
      argc, argv,
      {{"--truth", &options.truth}, {"--sweeps", &options.sweeps}, {"--close-after", &options.closeAfterMs}},
      &options);
  if (!understood || options.truth.empty() || options.sweeps < 1)
    return qv::bench::BadUsage("soak_bench.exe", "--truth <file> --sweeps <count> [--close-after <ms>]");
  return Run(options);
}
