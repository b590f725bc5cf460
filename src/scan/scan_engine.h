#pragma once
// The scan's threads: one dispatcher that walks the range and one worker per
// address, never more running at once than the limit.
//
// Every scan is a ScanRun of its own, shared by its dispatcher and workers.
// Stopping a scan retires its run: the dispatcher dispatches nothing more and
// workers whose probe returns afterwards record nothing and report nothing.
// No thread is ever terminated, so no lock, heap or pending send is left
// half-done, and a later scan never sees an earlier scan's threads.
//
// Echoes are never cut off either: a cancelled echo can wedge Wine's network
// service for every process. Every echo is recorded as pending, for its scan
// and for the process, until it returns; no echo begins once its run is
// retired. A scan whose echo service has answered none of its echoes for far
// longer than their time-out has a service that no longer answers: it ends,
// and its port is told once. So does a scan that cannot send any echo at
// all, at its first attempt: it would otherwise show an empty network. A
// scan whose walk is over and whose only pending echoes are lost ones ends
// as a finished scan does.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/win_handle.h"
#include "scan/echo_outcome.h"
#include "scan/echo_watch.h"
#include "scan/lock_registry.h"
#include "scan/pending_echoes.h"
#include "scan/scan_rules.h"

namespace qv {

// What one probe of an address needs; the real ones send ICMP and look up
// names and MACs, tests script them.
struct ProbeServices {
  std::function<EchoOutcome(const std::string& address, std::int32_t timeoutMs)> echo;
  std::function<std::string(const std::string& address)> hostName;
  std::function<std::string(const std::string& address)> macAddress;
};

// The platform's echo probe and look-ups.
ProbeServices RealProbeServices();

// Creates a scan thread as CreateThread does (default security); tests put
// failures and costs in.
using ThreadStarter = std::function<HANDLE(LPTHREAD_START_ROUTINE routine, LPVOID param, SIZE_T stackReservation,
                                           DWORD flags, DWORD* threadId)>;
HANDLE StartSystemThread(LPTHREAD_START_ROUTINE routine, LPVOID param, SIZE_T stackReservation, DWORD flags,
                         DWORD* threadId);

// How long past the largest pending time-out the echo service may go
// without answering any echo of a scan before it counts as not answering.
constexpr std::uint32_t kSilentEchoServiceGraceMs = 10000;

// Milliseconds that do not count time asleep: a machine that wakes up in
// the middle of a scan has not waited for its echoes meanwhile.
std::uint64_t AwakeClockMs();

// One live host, as its row shows it.
struct HostRecord {
  std::string displayAddress;
  std::string hostName;
  std::string macAddress;
  std::string replyTime;
};

class ScanRun;

// A worker's whole life fits in a small stack; the default reservation of
// 1 MB or more would let a 32-bit process start only a few hundred of the
// 1,024 workers the operator may ask for.
constexpr SIZE_T kWorkerStackReservation = 256 * 1024;
// Room kept free for everything but the workers: the list of up to 65,536
// rows, the window and the heap's growth.
constexpr SIZE_T kAddressSpaceReserve = 128 * 1024 * 1024;
// What AddressSpaceHasRoomForAWorker reserves, and gives back at once.
constexpr SIZE_T kWorkerRoomCheckBytes = kAddressSpaceReserve + kWorkerStackReservation;

// Whether the address space still has a contiguous reserve beside a new
// worker's stack: the window, its rows and the heap need room of their own,
// and under 32-bit Wine every thread costs 1 to 2 MB whatever its stack.
bool AddressSpaceHasRoomForAWorker();

// The worker threads alive in the process, of every scan. A stopped scan's
// workers live on until their probe returns (up to the 60 s time-out), and a
// new scan's workers wait while the census is full, so the process never
// holds more worker threads than its ceiling: under 32-bit Wine, 1,024
// workers take about 1,150 MB of the 1,880 MB a process has free, and two
// scans' 2,048 would not fit. Workers also wait while the address space has
// no room to spare, whatever holds it.
class WorkerCensus {
 public:
  using RoomCheck = std::function<bool()>;
  explicit WorkerCensus(std::int32_t ceiling, RoomCheck addressSpaceHasRoom = AddressSpaceHasRoomForAWorker)
      : ceiling_(ceiling), addressSpaceHasRoom_(std::move(addressSpaceHasRoom)) {}
  WorkerCensus(const WorkerCensus&) = delete;
  WorkerCensus& operator=(const WorkerCensus&) = delete;

  // The census of this process, with room for kMaxWorkers.
  static std::shared_ptr<WorkerCensus> OfProcess();

  // A process without workers always has room, so that no scan can wait for
  // ever: a thread that then cannot start is retried as any other.
  bool HasRoom() const {
    const std::int32_t alive = alive_.load();
    return alive < ceiling_ && (alive == 0 || addressSpaceHasRoom_());
  }
  std::int32_t Alive() const { return alive_.load(); }
  void Arrive() { ++alive_; }
  void Leave() { --alive_; }

 private:
  const std::int32_t ceiling_;
  const RoomCheck addressSpaceHasRoom_;
  std::atomic<std::int32_t> alive_{0};
};

// The application's side of a scan. Called on scan threads; each call but
// ReportWorkersCannotStart hands its work to the UI thread and waits for it,
// and every call must do nothing for a retired run or once the window is
// gone.
class ScanPort {
 public:
  virtual ~ScanPort() = default;
  virtual void BeginScan(ScanRun& run) = 0;
  virtual void RecordLiveHost(ScanRun& run, const HostRecord& host) = 0;
  virtual void ReportActiveCount(ScanRun& run, std::int32_t running) = 0;
  // Once per scan: the scan has waited a while for room to start a worker.
  // Returns without waiting for the operator; the dispatcher goes on.
  virtual void ReportWorkersCannotStart(ScanRun& run) = 0;
  // An echo of the run has not returned long after its time-out, or no echo
  // can be sent at all; the run is retired right after this call. A port
  // without an operator ignores it.
  virtual void ReportEchoServiceSilent(ScanRun& /*run*/) {}
  virtual std::string ReadTimeoutText() = 0;
};

struct ScanSettings {
  std::int32_t limit = 1;
  ScanRange range;
  ProbeServices probe;
  std::shared_ptr<ScanPort> port;
  std::shared_ptr<LockRegistry> locks;
  LockId scanLock = 0;
  ThreadStarter startThread = StartSystemThread;
  // The echoes of every scan of the process.
  std::shared_ptr<PendingEchoes> processEchoes = std::make_shared<PendingEchoes>();
  std::uint32_t silentEchoGraceMs = kSilentEchoServiceGraceMs;
  std::shared_ptr<WorkerCensus> census = WorkerCensus::OfProcess();
  // The clock of the silent-service rule; tests move it.
  std::function<std::uint64_t()> clock = AwakeClockMs;
};

// Waits until none of the echoes is pending any more, or until the latest of
// them is overdue by the grace: a service that does not answer would be
// waited for for ever.
void WaitForPendingEchoes(PendingEchoes& echoes, std::uint32_t graceMs = kSilentEchoServiceGraceMs);

class DispatchPause;

class ScanRun : public std::enable_shared_from_this<ScanRun> {
 public:
  static std::shared_ptr<ScanRun> Create(ScanSettings settings);
  ScanRun(const ScanRun&) = delete;
  ScanRun& operator=(const ScanRun&) = delete;

  // Starts the dispatcher thread; its handle, or an empty one when the
  // thread could not be created.
  UniqueHandle StartDispatcher();

  // Retires the run at once: safe from any thread, any number of times.
  void Retire();
  bool IsRetired() const { return retired_.load(); }

  std::int32_t RunningWorkers() const { return ActiveWorkerCount.load(); }
  // Workers started so far, and those whose thread has not yet ended.
  std::size_t StartedWorkers() const { return startedWorkers_.load(); }
  std::size_t ListedWorkers() const;
  bool DispatchDone() const { return dispatchDone_.load(); }
  // The last address's worker has started: a count of 0 from now on is the
  // scan's end, while before it, it is only a moment between two starts.
  // Set before that worker runs, so its own notice always sees it.
  bool LastAddressHandedOver() const { return lastHandedOver_.load(); }
  // Echoes of this run sent and not yet returned.
  std::size_t PendingEchoCount() const { return echoes_.Count(); }
  const ScanSettings& settings() const { return settings_; }

 private:
  explicit ScanRun(ScanSettings settings);
  static DWORD WINAPI ScanDispatcher(LPVOID param);
  static DWORD WINAPI HostProbeWorker(LPVOID param);
  void Dispatch();
  bool DispatchAddress(const std::string& address, bool isLast, DispatchPause& pause);
  bool WaitForFreeSlot(std::optional<std::uint64_t>& roomWantedSince);
  bool BearWaitForRoom(std::uint64_t wantedSinceMs);
  bool WaitOutPause(DispatchPause& pause);
  bool StartWorker(const std::string& address, bool isLast, DispatchPause& pause);
  void GiveSlotBack();
  void ProbeAddress(const std::string& address);
  EchoOutcome SendEcho(const std::string& address, std::int32_t timeout);
  void FinishWorker();
  void UnlistWorker(DWORD threadId);
  bool WaitForRetirement(DWORD milliseconds) const;
  bool EndIfEchoServiceSilent();
  void EndForSilentEchoService();
  void EndAsFinished();
  bool WaitWatchingEchoes(DWORD milliseconds);
  void WatchEchoesUntilWorkersEnd();

  ScanSettings settings_;
  std::atomic<bool> retired_{false};
  std::atomic<bool> dispatchDone_{false};
  std::atomic<bool> lastHandedOver_{false};
  std::atomic<bool> silentServiceReported_{false};
  std::atomic<std::int32_t> ActiveWorkerCount{0};
  UniqueHandle retiredEvent_;
  std::atomic<std::size_t> startedWorkers_{0};
  // Whether the operator has heard that the scan waits for room; only the
  // dispatcher reads and writes it.
  bool operatorToldOfRoom_ = false;
  EchoWatch echoes_;
  // WorkerHandleList: the handles of the workers still running, by thread
  // id. A worker takes its own handle out when it ends, so a scan of a large
  // range never holds a handle per address.
  mutable std::mutex handlesMutex_;
  std::unordered_map<DWORD, UniqueHandle> WorkerHandleList;
};

}  // namespace qv
