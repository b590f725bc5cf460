// Workers at the largest limit: the scan engine alone walks 2,048 silent
// addresses with 1,024 workers, each probe waiting out the time-out as an
// unanswered echo does (nothing is sent). Prints, per time-out, the workers
// asked for against those alive at once, the addresses against the workers
// started, and the process's peak threads, working set and address space.
//
//   worker_bench [time-out ms ...]     (default: 3000 12000)
//   worker_bench --restart <time-out ms>
//   worker_bench --pause [addresses]         (default: 500)
//
// --restart retires a scan once its 1,024 workers have started, as 停止
// does, and starts a new one at once: the new scan's workers start while the
// old scan's still wait out their time-out. It prints what both scans held
// together at their peak and how many of the new scan's addresses got a
// worker.
//
// --pause walks that many addresses with a probe that returns at once and
// prints the spacing of the dispatcher's worker starts (median, mean, p10,
// p90, least) and the timer its pause waits on.
//
// At 12,000 ms every one of the 1,024 workers is still waiting when the
// 1,024th starts, so "alive at once" must equal "asked". In a 32-bit process
// that is the test of the worker stack reservation: 1,024 default 2 MB
// stacks would not fit in its address space.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scan/dispatch_pause.h"
#include "scan/scan_engine.h"
#include "scan/scan_rules.h"
#include "address_space.h"
#include "support/now_ms.h"
#include "thread_count.h"

namespace {

constexpr std::int32_t kWorkersAsked = 1024;
constexpr char kFirstAddress[] = "10.79.0.0";
constexpr char kLastAddress[] = "10.79.7.255";
constexpr DWORD kSampleMs = 20;

class SilentPort final : public qv::ScanPort {
 public:
  explicit SilentPort(std::int32_t timeoutMs) : timeoutText_(std::to_string(timeoutMs)) {}
  void BeginScan(qv::ScanRun&) override {}
  void RecordLiveHost(qv::ScanRun&, const qv::HostRecord&) override {}
  void ReportActiveCount(qv::ScanRun&, std::int32_t) override {}
  void ReportWorkersCannotStart(qv::ScanRun&) override {}
  std::string ReadTimeoutText() override { return timeoutText_; }

 private:
  std::string timeoutText_;
};

struct Waiting {
  std::atomic<int> now{0};
  std::atomic<int> most{0};
  std::atomic<std::uint64_t> stackReservation{0};
};

// The whole reservation that holds the calling thread's stack.
std::uint64_t OwnStackReservation() {
  MEMORY_BASIC_INFORMATION region{};
  const int local = 0;
  if (VirtualQuery(&local, &region, sizeof region) != sizeof region) return 0;
  const void* base = region.AllocationBase;
  std::uint64_t size = 0;
  for (const auto* at = static_cast<const char*>(base);
       VirtualQuery(at, &region, sizeof region) == sizeof region && region.AllocationBase == base;
       at += region.RegionSize)
    size += region.RegionSize;
  return size;
}

qv::ProbeServices SilentProbe(Waiting& waiting) {
  qv::ProbeServices probe;
  probe.echo = [&waiting](const std::string&, std::int32_t timeoutMs) {
    if (waiting.stackReservation.load() == 0) waiting.stackReservation = OwnStackReservation();
    const int now = ++waiting.now;
    int most = waiting.most.load();
    while (now > most && !waiting.most.compare_exchange_weak(most, now)) {
    }
    Sleep(static_cast<DWORD>(timeoutMs));
    --waiting.now;
    return qv::EchoOutcome{};
  };
  probe.hostName = [](const std::string&) { return std::string(); };
  probe.macAddress = [](const std::string&) { return std::string(); };
  return probe;
}

double Megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::uint64_t AddressCount() {
  const auto range = qv::CheckScanRange(kFirstAddress, kLastAddress).range;
  return range ? range->count : 0;
}

std::shared_ptr<qv::ScanRun> SilentRun(Waiting& waiting, std::int32_t timeoutMs) {
  const auto range = qv::CheckScanRange(kFirstAddress, kLastAddress).range;
  if (!range) return nullptr;
  auto locks = std::make_shared<qv::LockRegistry>();
  qv::ScanSettings settings;
  settings.limit = kWorkersAsked;
  settings.range = *range;
  settings.probe = SilentProbe(waiting);
  settings.port = std::make_shared<SilentPort>(timeoutMs);
  settings.locks = locks;
  settings.scanLock = locks->Create();
  return qv::ScanRun::Create(std::move(settings));
}

bool Finished(const qv::ScanRun& run) {
  return run.DispatchDone() && run.RunningWorkers() == 0 && run.ListedWorkers() == 0;
}

// The process's peak threads and address space, sampled every kSampleMs
// until the condition holds.
struct Peaks {
  int threadsIdle = qv::bench::ThreadCount(GetCurrentProcessId());
  std::uint64_t spaceIdle = qv::bench::AddressSpaceInUse(GetCurrentProcess());
  std::uint64_t reservableIdle = qv::bench::LargestReservableBlock(GetCurrentProcess());
  int threads = threadsIdle;
  std::uint64_t space = spaceIdle;
  std::uint64_t reservableLow = reservableIdle;

  template <typename Condition>
  void SampleUntil(Condition done) {
    while (!done()) {
      threads = std::max(threads, qv::bench::ThreadCount(GetCurrentProcessId()));
      space = std::max(space, qv::bench::AddressSpaceInUse(GetCurrentProcess()));
      reservableLow = std::min(reservableLow, qv::bench::LargestReservableBlock(GetCurrentProcess()));
      Sleep(kSampleMs);
    }
  }
};

void PrintPeaks(const Peaks& peaks, const Waiting& waiting) {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("workers_asked=%d\n", kWorkersAsked);
  std::printf("workers_alive_at_once=%d\n", waiting.most.load());
  std::printf("threads_idle=%d\nthreads_peak=%d\n", peaks.threadsIdle, peaks.threads);
  std::printf("worker_stack_reservation_kb=%llu\n",
              static_cast<unsigned long long>(waiting.stackReservation.load() / 1024));
  std::printf("peak_working_set_mb=%.1f\n", Megabytes(memory.PeakWorkingSetSize));
  std::printf("address_space_idle_mb=%.1f\naddress_space_peak_mb=%.1f\n", Megabytes(peaks.spaceIdle),
              Megabytes(peaks.space));
  std::printf("reservable_idle_mb=%.0f\nreservable_low_mb=%.0f\n", Megabytes(peaks.reservableIdle),
              Megabytes(peaks.reservableLow));
}

bool RunAtTimeout(std::int32_t timeoutMs) {
  Waiting waiting;
  Peaks peaks;
  const auto run = SilentRun(waiting, timeoutMs);
  if (!run) return false;
  const ULONGLONG start = GetTickCount64();
  const qv::UniqueHandle dispatcher = run->StartDispatcher();
  if (!dispatcher) {
    std::fprintf(stderr, "the dispatcher did not start\n");
    return false;
  }
  peaks.SampleUntil([&] { return Finished(*run); });
  WaitForSingleObject(dispatcher.get(), INFINITE);
  const ULONGLONG wall = GetTickCount64() - start;

  std::printf("timeout_ms=%d\n", timeoutMs);
  PrintPeaks(peaks, waiting);
  std::printf("addresses=%llu\n", static_cast<unsigned long long>(AddressCount()));
  std::printf("workers_started=%zu\n", run->StartedWorkers());
  std::printf("wall_ms=%llu\n\n", static_cast<unsigned long long>(wall));
  std::fflush(stdout);
  return run->StartedWorkers() == AddressCount();
}

bool RestartAtTimeout(std::int32_t timeoutMs) {
  Waiting waiting;
  Peaks peaks;
  const auto first = SilentRun(waiting, timeoutMs);
  const auto second = SilentRun(waiting, timeoutMs);
  if (!first || !second) return false;
  const ULONGLONG start = GetTickCount64();
  const qv::UniqueHandle firstDispatcher = first->StartDispatcher();
  if (!firstDispatcher) return false;
  peaks.SampleUntil([&] { return first->StartedWorkers() >= kWorkersAsked || first->DispatchDone(); });
  first->Retire();
  const qv::UniqueHandle secondDispatcher = second->StartDispatcher();
  if (!secondDispatcher) return false;
  peaks.SampleUntil([&] { return Finished(*first) && Finished(*second); });
  WaitForSingleObject(firstDispatcher.get(), INFINITE);
  WaitForSingleObject(secondDispatcher.get(), INFINITE);
  const ULONGLONG wall = GetTickCount64() - start;

  std::printf("restart_timeout_ms=%d\n", timeoutMs);
  PrintPeaks(peaks, waiting);
  std::printf("first_workers_started=%zu\n", first->StartedWorkers());
  std::printf("second_addresses=%llu\n", static_cast<unsigned long long>(AddressCount()));
  std::printf("second_workers_started=%zu\n", second->StartedWorkers());
  std::printf("wall_ms=%llu\n\n", static_cast<unsigned long long>(wall));
  std::fflush(stdout);
  return second->StartedWorkers() == AddressCount();
}

// The times at which the dispatcher asked for each worker thread.
std::mutex startTimesMutex;
std::vector<double> startTimesMs;

HANDLE StartTimedThread(LPTHREAD_START_ROUTINE routine, LPVOID param, SIZE_T stackReservation, DWORD flags,
                        DWORD* threadId) {
  if (stackReservation == qv::kWorkerStackReservation) {
    std::lock_guard<std::mutex> hold(startTimesMutex);
    startTimesMs.push_back(qv::test::NowMs());
  }
  return qv::StartSystemThread(routine, param, stackReservation, flags, threadId);
}

double Percentile(const std::vector<double>& sorted, double share) {
  return sorted[static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5)];
}

bool MeasurePause(int addresses) {
  Waiting waiting;
  const auto range = qv::CheckScanRange("10.79.0.1", "10.79.255.254").range;
  if (!range || addresses < 2) return false;
  auto locks = std::make_shared<qv::LockRegistry>();
  qv::ScanSettings settings;
  settings.limit = kWorkersAsked;
  settings.range = *range;
  settings.range.count = static_cast<std::uint64_t>(addresses);
  settings.probe = SilentProbe(waiting);
  settings.port = std::make_shared<SilentPort>(1);
  settings.locks = locks;
  settings.scanLock = locks->Create();
  settings.startThread = &StartTimedThread;
  const auto run = qv::ScanRun::Create(std::move(settings));
  const qv::UniqueHandle dispatcher = run->StartDispatcher();
  if (!dispatcher) return false;
  WaitForSingleObject(dispatcher.get(), INFINITE);

  std::vector<double> gaps;
  for (std::size_t i = 1; i < startTimesMs.size(); ++i) gaps.push_back(startTimesMs[i] - startTimesMs[i - 1]);
  if (gaps.empty()) return false;
  double sum = 0;
  for (const double gap : gaps) sum += gap;
  std::sort(gaps.begin(), gaps.end());
  const bool highResolution = qv::DispatchPause().TimerKind() == qv::PauseTimerKind::kHighResolution;
  std::printf("pause_timer=%s\n", highResolution ? "high_resolution" : "raised_period");
  std::printf("pause_count=%zu\npause_median_ms=%.3f\npause_mean_ms=%.3f\n", gaps.size(), Percentile(gaps, 0.5),
              sum / static_cast<double>(gaps.size()));
  std::printf("pause_p10_ms=%.3f\npause_p90_ms=%.3f\npause_least_ms=%.3f\n", Percentile(gaps, 0.1),
              Percentile(gaps, 0.9), gaps.front());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--pause") {
    std::printf("pointer_bits=%zu\n\n", sizeof(void*) * 8);
    return MeasurePause(argc >= 3 ? std::atoi(argv[2]) : 500) ? 0 : 1;
  }
  if (argc == 3 && std::string(argv[1]) == "--restart") {
    std::printf("pointer_bits=%zu\n\n", sizeof(void*) * 8);
    return RestartAtTimeout(static_cast<std::int32_t>(std::atoi(argv[2]))) ? 0 : 1;
  }
  std::vector<std::int32_t> timeouts;
  for (int i = 1; i < argc; ++i) timeouts.push_back(static_cast<std::int32_t>(std::atoi(argv[i])));
  if (timeouts.empty()) timeouts = {3000, 12000};
  std::printf("pointer_bits=%zu\n\n", sizeof(void*) * 8);
  bool allStarted = true;
  for (const std::int32_t timeout : timeouts) allStarted = RunAtTimeout(timeout) && allStarted;
  return allStarted ? 0 : 1;
}
