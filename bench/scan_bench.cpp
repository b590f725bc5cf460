// One timed scan of the real program, driven from this process: starts the
// scanner, writes the range, worker count and time-out into its window,
// presses 开始 and waits for the window to report the end of the scan.
// Prints its figures as key=value lines for bench/run_scan_benchmarks.sh.
//
//   scan_bench.exe <quorvane.exe> <scanner address> <first> <last> <workers>
//                  <time-out ms> [--truth <file>] [--ping-ui] [--threads]
//                  [--restart-after <ms> | --restart-at-started <n>]
//
// It refuses to start unless the program pre-filled the range of the given
// scanner address (so it runs inside that virtual LAN) and the range lies in
// the scanner's /16: no probe can leave the bench's own namespaces.
//   --truth    recall against a truth file (address, name, MAC, yes/no)
//   --ping-ui  a second thread times WM_NULL to the window every 20 ms
//   --threads  polls the program's thread count, working set, address
//              space in use and the largest block it can still reserve
//              (what a 32-bit program runs out of first)
//   --restart-after  presses 停止 that long after 开始 and 开始 again at
//              once, so the new scan's workers start while the old scan's
//              still wait out their time-out; the figures are of both
//   --restart-at-started  the same, once that many workers have started
//              (threads of the program seen beyond its idle ones and the
//              dispatcher; a worker on a silent address lives for its whole
//              time-out, so none comes and goes between two looks); then the
//              window's first part is watched for the idle state the new
//              scan must not show before its end
// Every message box the program opens is read and answered as it comes.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/program_driver.h"
#include "address_space.h"
#include "driven_scan.h"
#include "thread_count.h"
#include "scan_range.h"
#include "truth_recall.h"

namespace {

using qv::Component;
using namespace qv::test;
using qv::bench::ThreadCount;
using qv::bench::ThreadIds;

constexpr DWORD kPingEveryMs = 20;
constexpr UINT kPingLimitMs = 10000;
constexpr DWORD kThreadPollMs = 20;
constexpr DWORD kAnswerEveryMs = 200;
constexpr DWORD kStatusEveryMs = 50;

struct Options : qv::bench::ScanArguments {
  std::string truth;
  bool pingUi = false;
  bool threads = false;
  int restartAfterMs = -1;
  int restartAtStarted = -1;
  bool Restarts() const { return restartAfterMs >= 0 || restartAtStarted >= 0; }
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

double FileTimeMs(const FILETIME& time) {
  return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
}

// Kernel plus user time of one thread of another process.
double ThreadCpuMs(DWORD threadId) {
  const qv::UniqueHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId));
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!thread || !GetThreadTimes(thread.get(), &created, &exited, &kernel, &user)) return -1;
  return FileTimeMs(kernel) + FileTimeMs(user);
}

struct MemoryFigures {
  std::size_t workingSet = 0;
  std::size_t peakWorkingSet = 0;
};

MemoryFigures Memory(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return {};
  return {counters.WorkingSetSize, counters.PeakWorkingSetSize};
}

// Samples taken on a thread of their own while the scan runs.
class Sampler {
 public:
  Sampler(DWORD everyMs, std::function<void()> sample)
      : everyMs_(everyMs), sample_(std::move(sample)), thread_([this] { Run(); }) {}
  ~Sampler() { Stop(); }
  Sampler(const Sampler&) = delete;
  Sampler& operator=(const Sampler&) = delete;
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    while (!stop_) {
      const double start = NowMs();
      sample_();
      const double spent = NowMs() - start;
      if (spent < everyMs_) Sleep(static_cast<DWORD>(everyMs_ - spent));
    }
  }
  DWORD everyMs_;
  std::function<void()> sample_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Print(const char* key, double value) { std::printf("%s=%.1f\n", key, value); }
void Print(const char* key, int value) { std::printf("%s=%d\n", key, value); }
void Print(const char* key, std::size_t value) { std::printf("%s=%zu\n", key, value); }
void Print(const char* key, const std::string& value) { std::printf("%s=%s\n", key, value.c_str()); }

void PrintRecall(const std::vector<qv::ListRow>& rows, const std::string& truthPath) {
  const qv::bench::Recall recall = qv::bench::CompareWithTruth(rows, ReadTruth(truthPath.c_str()));
  Print("hosts_expected", recall.expected);
  Print("hosts_found", recall.found);
  Print("recall_percent", recall.expected ? 100.0 * recall.found / recall.expected : 0.0);
  Print("wrong_names", recall.wrongNames);
  Print("wrong_macs", recall.wrongMacs);
  Print("rows_not_in_truth", recall.notInTruth);
}

int Run(const Options& options) {
  const std::optional<std::uint32_t> addressCount =
      qv::bench::AddressesInScannerNet(options.scanner, options.first, options.last);
  if (!addressCount) return qv::bench::kBadUsageStatus;
  const qv::bench::DrivenSession session(options);
  if (!session.driver) return 1;
  const LaunchedProgram& program = session.program;
  const ProgramDriver& driver = *session.driver;

  const double floorMs = qv::bench::ScanFloorMs(*addressCount, options.timeoutMs);
  const int idleThreads = ThreadCount(driver.ProcessId());
  const double uiCpuBefore = ThreadCpuMs(driver.UiThreadId());

  std::vector<double> pings;
  std::optional<Sampler> pinger;
  if (options.pingUi) {
    pinger.emplace(kPingEveryMs, [&] {
      const double start = NowMs();
      DWORD_PTR result = 0;
      SendMessageTimeoutA(driver.Window(), WM_NULL, 0, 0, SMTO_NORMAL, kPingLimitMs, &result);
      pings.push_back(NowMs() - start);
    });
  }
  int peakThreads = idleThreads;
  std::size_t peakSampledWorkingSet = 0;
  const std::uint64_t idleAddressSpace = qv::bench::AddressSpaceInUse(program.handle());
  std::uint64_t peakAddressSpace = idleAddressSpace;
  const std::uint64_t idleReservable = qv::bench::LargestReservableBlock(program.handle());
  std::uint64_t lowReservable = idleReservable;
  std::optional<Sampler> threadWatch;
  if (options.threads) {
    threadWatch.emplace(kThreadPollMs, [&] {
      peakThreads = std::max(peakThreads, ThreadCount(driver.ProcessId()));
      peakSampledWorkingSet = std::max(peakSampledWorkingSet, Memory(program.handle()).workingSet);
      peakAddressSpace = std::max(peakAddressSpace, qv::bench::AddressSpaceInUse(program.handle()));
      lowReservable = std::min(lowReservable, qv::bench::LargestReservableBlock(program.handle()));
    });
  }

  std::optional<MessageBoxWatcher> answerer(std::in_place, MessageBoxWatcher::Answer::kAtOnce, driver.Dialogs(),
                                             kAnswerEveryMs);

  const double start = NowMs();
  const auto limit = static_cast<DWORD>(3 * floorMs + 120000);
  if (!driver.Click(Component::按钮_开始扫描)) {
    std::fprintf(stderr, "开始 was not clicked\n");
    return 1;
  }
  int aliveAtRestart = 0;
  int startedAtRestart = 0;
  if (options.restartAfterMs >= 0) Sleep(static_cast<DWORD>(options.restartAfterMs));
  if (options.restartAtStarted >= 0) {
    // Wine hands an ended thread's id to a new one soon, so a start is an
    // id that the look before did not see.
    std::set<DWORD> before;
    int seen = 0;
    while (startedAtRestart < options.restartAtStarted && NowMs() - start < limit) {
      if (const auto ids = ThreadIds(driver.ProcessId())) {
        std::set<DWORD> now(ids->begin(), ids->end());
        for (const DWORD id : now) seen += before.count(id) == 0 ? 1 : 0;
        before = std::move(now);
        aliveAtRestart = static_cast<int>(ids->size()) - idleThreads - 1;
        startedAtRestart = seen - idleThreads - 1;
      }
      Sleep(kThreadPollMs);
    }
    if (startedAtRestart < options.restartAtStarted)
      std::fprintf(stderr, "only %d workers were seen to start; restarting\n", startedAtRestart);
  }
  double restartedAt = 0;
  std::atomic<double> idleFirstSeen{0};
  std::optional<Sampler> statusWatch;
  if (options.Restarts()) {
    if (!driver.Click(Component::按钮2) || !driver.Click(Component::按钮_开始扫描)) {
      std::fprintf(stderr, "停止 and 开始 were not clicked\n");
      return 1;
    }
    restartedAt = NowMs();
    statusWatch.emplace(kStatusEveryMs, [&] {
      if (idleFirstSeen.load() == 0 && driver.StatusPart(0) == "准备就绪") idleFirstSeen = NowMs();
    });
  }
  double end = 0;
  const bool ended = driver.WaitForScanEnd(qv::bench::kIdleHoldMs, limit, &end);
  if (pinger) pinger->Stop();
  if (threadWatch) threadWatch->Stop();
  if (statusWatch) statusWatch->Stop();
  const std::vector<SeenMessageBox> messages = answerer->Seen();
  answerer.reset();
  if (!ended) {
    std::fprintf(stderr, "the scan did not end within %lu ms; the window shows '%s' '%s' '%s', %zu rows; %d threads\n",
                 static_cast<unsigned long>(limit), driver.StatusPart(0).c_str(), driver.StatusPart(1).c_str(),
                 driver.StatusPart(2).c_str(), driver.ReadRows().size(), ThreadCount(driver.ProcessId()));
    return 1;
  }

  const std::vector<qv::ListRow> rows = driver.ReadRows();
  Print("addresses", static_cast<std::size_t>(*addressCount));
  Print("workers", options.workers);
  Print("timeout_ms", options.timeoutMs);
  Print("wall_ms", end - start);
  Print("floor_ms", floorMs);
  Print("wall_over_floor", (end - start) / floorMs);
  Print("rows", rows.size());
  Print("status_live_hosts", driver.StatusPart(2));
  Print("ui_thread_cpu_ms", ThreadCpuMs(driver.UiThreadId()) - uiCpuBefore);
  // A scan that the program ended by itself, or that waited long for room,
  // says so in a message box.
  std::string said;
  for (const SeenMessageBox& message : messages) said += (said.empty() ? "" : " / ") + message.text;
  Print("message_boxes", messages.size());
  if (!said.empty()) Print("message_box", said);
  if (options.Restarts()) {
    Print("restart_after_ms", restartedAt - start);
    if (options.restartAtStarted >= 0) {
      Print("workers_started_at_restart", startedAtRestart);
      Print("workers_alive_at_restart", aliveAtRestart);
    }
    Print("second_scan_ms", end - restartedAt);
    // The new scan's status must not read idle before the scan's end; the
    // end itself may be seen a look late.
    const double idleSeen = idleFirstSeen.load();
    Print("idle_shown_before_end_ms", idleSeen == 0 ? 0.0 : std::max(0.0, end - idleSeen));
  }
  if (!options.truth.empty()) PrintRecall(rows, options.truth);
  if (options.pingUi) {
    Print("ui_pings", pings.size());
    Print("ui_p50_ms", Percentile(pings, 0.50));
    Print("ui_p99_ms", Percentile(pings, 0.99));
    Print("ui_max_ms", pings.empty() ? 0 : *std::max_element(pings.begin(), pings.end()));
  }
  if (options.threads) {
    const MemoryFigures memory = Memory(program.handle());
    Print("threads_idle", idleThreads);
    Print("threads_peak", peakThreads);
    // The dispatcher is the one thread of a scan that is not a worker.
    Print("workers_started_at_once", peakThreads - idleThreads - 1);
    Print("peak_working_set_mb", static_cast<double>(memory.peakWorkingSet) / (1024.0 * 1024.0));
    Print("sampled_working_set_mb", static_cast<double>(peakSampledWorkingSet) / (1024.0 * 1024.0));
    Print("address_space_idle_mb", static_cast<double>(idleAddressSpace) / (1024.0 * 1024.0));
    Print("address_space_peak_mb", static_cast<double>(peakAddressSpace) / (1024.0 * 1024.0));
    Print("reservable_idle_mb", static_cast<double>(idleReservable) / (1024.0 * 1024.0));
    Print("reservable_low_mb", static_cast<double>(lowReservable) / (1024.0 * 1024.0));
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const bool understood = qv::bench::ReadCommandLine(argc, argv,
                                                     {{"--truth", &options.truth},
                                                      {"--ping-ui", &options.pingUi},
                                                      {"--threads", &options.threads},
                                                      {"--restart-after", &options.restartAfterMs},
                                                      {"--restart-at-started", &options.restartAtStarted}},
                                                     &options);
  if (!understood) {
    return qv::bench::BadUsage(
        "scan_bench.exe", "[--truth <file>] [--ping-ui] [--threads] [--restart-after <ms> | --restart-at-started <n>]");
  }
  return Run(options);
}
