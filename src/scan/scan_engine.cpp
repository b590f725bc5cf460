#include "scan/scan_engine.h"

#include <optional>
#include <utility>

#include "base/number_text.h"
#include "scan/address_text.h"
#include "scan/dispatch_pause.h"

namespace qv {
namespace {

constexpr DWORD kSlotPollMs = 100;
// A worker thread that cannot be created (the address space full of the
// stacks of a stopped scan's workers still waiting out a long time-out) is
// tried again at this pace. Waiting for room, in the census, the address
// space or thread creation, has one patience; after it the operator is
// told, once.
constexpr DWORD kStartRetryMs = 100;
constexpr std::uint64_t kRoomPatienceMs = 5000;

// The hand-over block: what one worker owns from its start to its end.
struct WorkerHandOver {
  std::shared_ptr<ScanRun> run;
  std::string address;
};

}  // namespace

std::uint64_t AwakeClockMs() {
  ULONGLONG hundredsOfNs = 0;
  QueryUnbiasedInterruptTime(&hundredsOfNs);
  return hundredsOfNs / 10000;
}

HANDLE StartSystemThread(LPTHREAD_START_ROUTINE routine, LPVOID param, SIZE_T stackReservation, DWORD flags,
                         DWORD* threadId) {
  return CreateThread(nullptr, stackReservation, routine, param, flags, threadId);
}

bool AddressSpaceHasRoomForAWorker() {
  void* const reserve = VirtualAlloc(nullptr, kWorkerRoomCheckBytes, MEM_RESERVE, PAGE_NOACCESS);
  if (!reserve) return false;
  VirtualFree(reserve, 0, MEM_RELEASE);
  return true;
}

std::shared_ptr<WorkerCensus> WorkerCensus::OfProcess() {
  static const auto census = std::make_shared<WorkerCensus>(kMaxWorkers);
  return census;
}

std::shared_ptr<ScanRun> ScanRun::Create(ScanSettings settings) {
  return std::shared_ptr<ScanRun>(new ScanRun(std::move(settings)));
}

ScanRun::ScanRun(ScanSettings settings)
    : settings_(std::move(settings)),
      retiredEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      echoes_(settings_.clock) {}

UniqueHandle ScanRun::StartDispatcher() {
  auto* self = new std::shared_ptr<ScanRun>(shared_from_this());
  UniqueHandle thread(settings_.startThread(&ScanRun::ScanDispatcher, self, 0, 0, nullptr));
  if (!thread) {
    delete self;
    dispatchDone_ = true;
  }
  return thread;
}

void ScanRun::Retire() {
  retired_ = true;
  if (retiredEvent_) SetEvent(retiredEvent_.get());
}

std::size_t ScanRun::ListedWorkers() const {
  std::lock_guard<std::mutex> hold(handlesMutex_);
  return WorkerHandleList.size();
}

void ScanRun::UnlistWorker(DWORD threadId) {
  std::lock_guard<std::mutex> hold(handlesMutex_);
  WorkerHandleList.erase(threadId);
}

bool ScanRun::WaitForRetirement(DWORD milliseconds) const {
  if (IsRetired()) return true;
  if (!retiredEvent_) {
    Sleep(milliseconds);
    return IsRetired();
  }
  return WaitForSingleObject(retiredEvent_.get(), milliseconds) == WAIT_OBJECT_0;
}

// Ends the run when its echo service has long stopped answering, and the
// scan would otherwise never end for the operator; and, once the walk is
// over, when all that keeps it going are echoes lost on the way.
bool ScanRun::EndIfEchoServiceSilent() {
  if (IsRetired()) return false;
  const EchoWatch::Verdict verdict = echoes_.Judge(settings_.silentEchoGraceMs);
  if (verdict == EchoWatch::Verdict::kSilent) {
    EndForSilentEchoService();
    return true;
  }
  if (verdict == EchoWatch::Verdict::kOnlyLostEchoes && dispatchDone_) {
    EndAsFinished();
    return true;
  }
  return false;
}

// The dispatcher and any number of workers may find the service silent at
// once: the first tells the operator.
void ScanRun::EndForSilentEchoService() {
  if (IsRetired() || silentServiceReported_.exchange(true)) return;
  settings_.port->ReportEchoServiceSilent(*this);
  Retire();
}

// As the last worker's notice would: the count of 0 and the retirement under
// the scan lock, so no notice of a worker that ends later can follow it.
void ScanRun::EndAsFinished() {
  const auto guard = settings_.locks->Enter(settings_.scanLock);
  settings_.port->ReportActiveCount(*this, 0);
  Retire();
}

bool ScanRun::WaitWatchingEchoes(DWORD milliseconds) {
  return EndIfEchoServiceSilent() || WaitForRetirement(milliseconds);
}

// After the walk the dispatcher stays to watch the echoes of its workers.
void ScanRun::WatchEchoesUntilWorkersEnd() {
  while (ActiveWorkerCount.load() > 0) {
    if (WaitWatchingEchoes(kSlotPollMs)) return;
  }
}

DWORD WINAPI ScanRun::ScanDispatcher(LPVOID param) {
  const std::unique_ptr<std::shared_ptr<ScanRun>> self(static_cast<std::shared_ptr<ScanRun>*>(param));
  (*self)->Dispatch();
  (*self)->dispatchDone_ = true;
  (*self)->WatchEchoesUntilWorkersEnd();
  return 0;
}

void ScanRun::Dispatch() {
  DispatchPause pause;
  if (IsRetired()) return;
  settings_.port->BeginScan(*this);

  std::string current = settings_.range.first;
  // The count bounds the walk even if the texts never met.
  for (std::uint64_t dispatched = 0; dispatched < settings_.range.count; ++dispatched) {
    const bool isLast = current == settings_.range.last || dispatched + 1 == settings_.range.count;
    if (!DispatchAddress(current, isLast, pause)) return;
    if (isLast) return;
    current = NextAddressText(current);
    if (!WaitOutPause(pause)) return;
  }
}

// Starts the address's worker, trying again for as long as no thread can be
// created: no address of the range is ever skipped. False once the run is
// retired.
bool ScanRun::DispatchAddress(const std::string& address, bool isLast, DispatchPause& pause) {
  std::optional<std::uint64_t> roomWantedSince;
  for (;;) {
    if (!WaitForFreeSlot(roomWantedSince)) return false;
    if (StartWorker(address, isLast, pause)) return true;
    if (!roomWantedSince) roomWantedSince = AwakeClockMs();
    if (!BearWaitForRoom(*roomWantedSince)) return false;
    if (WaitWatchingEchoes(kStartRetryMs)) return false;
  }
}

// A slot of the scan's own limit frees itself as its workers end; room in
// the process is another matter, and its wait counts toward the patience.
bool ScanRun::WaitForFreeSlot(std::optional<std::uint64_t>& roomWantedSince) {
  for (;;) {
    if (IsRetired()) return false;
    if (ActiveWorkerCount.load() < settings_.limit) {
      if (settings_.census->HasRoom()) return true;
      if (!roomWantedSince) roomWantedSince = AwakeClockMs();
      if (!BearWaitForRoom(*roomWantedSince)) return false;
    }
    if (WaitWatchingEchoes(kSlotPollMs)) return false;
  }
}

// Past the patience the operator is told, once per scan. Where every echo
// the process still waits for is past its silent bound, what holds the
// room are workers of a service that no longer answers: a new scan has no
// echo of its own to judge it by, so it ends with that message instead.
// One lost echo among answered ones is not enough. False once the run ends.
bool ScanRun::BearWaitForRoom(std::uint64_t wantedSinceMs) {
  const std::uint64_t now = AwakeClockMs();
  if (now - wantedSinceMs < kRoomPatienceMs) return true;
  // A worker whose echo has returned is about to leave: room is coming.
  const bool everyWorkerInAnEcho = settings_.processEchoes->Count() >= static_cast<std::size_t>(settings_.census->Alive());
  const std::optional<std::uint64_t> latest = settings_.processEchoes->LatestDue();
  if (latest && everyWorkerInAnEcho && now > *latest + settings_.silentEchoGraceMs) {
    EndForSilentEchoService();
    return false;
  }
  if (!operatorToldOfRoom_) {
    operatorToldOfRoom_ = true;
    settings_.port->ReportWorkersCannotStart(*this);
  }
  return !IsRetired();
}

// The pause runs from one worker's start to the next, so the time a start
// takes (about a millisecond under Wine) is part of it. The clock, not the
// wait, decides: a wait may end up to a tick early.
bool ScanRun::WaitOutPause(DispatchPause& pause) {
  for (long long left = pause.LeftUs(); left > 0; left = pause.LeftUs()) {
    if (EndIfEchoServiceSilent() || IsRetired()) return false;
    if (pause.WaitOrUntilSet(left, retiredEvent_.get())) return false;
  }
  return !IsRetired();
}

bool ScanRun::StartWorker(const std::string& address, bool isLast, DispatchPause& pause) {
  // The slot is taken before the thread exists, so a worker that ends at
  // once can never report fewer workers than are still running.
  ++ActiveWorkerCount;
  settings_.census->Arrive();
  auto handOver = std::make_unique<WorkerHandOver>(WorkerHandOver{shared_from_this(), address});
  // Suspended until its handle is listed, so it can never end (and unlist
  // itself) before it is listed.
  DWORD threadId = 0;
  pause.StartNow();
  UniqueHandle thread(settings_.startThread(&ScanRun::HostProbeWorker, handOver.get(), kWorkerStackReservation,
                                            STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, &threadId));
  if (!thread) {
    settings_.census->Leave();
    GiveSlotBack();
    return false;
  }
  handOver.release();  // the worker owns it now
  const HANDLE started = thread.get();
  {
    std::lock_guard<std::mutex> hold(handlesMutex_);
    WorkerHandleList.emplace(threadId, std::move(thread));
  }
  ++startedWorkers_;
  if (isLast) lastHandedOver_ = true;
  ResumeThread(started);
  return true;
}

// The window never counted a worker that did not start (only ended workers
// report), so its slot goes back without a notice: a dispatcher that keeps
// trying does not make the window flicker to its idle state.
void ScanRun::GiveSlotBack() {
  const auto guard = settings_.locks->Enter(settings_.scanLock);
  --ActiveWorkerCount;
}

DWORD WINAPI ScanRun::HostProbeWorker(LPVOID param) {
  const std::unique_ptr<WorkerHandOver> handOver(static_cast<WorkerHandOver*>(param));
  ScanRun& run = *handOver->run;
  if (!run.IsRetired()) run.ProbeAddress(handOver->address);
  run.FinishWorker();
  run.UnlistWorker(GetCurrentThreadId());
  // Last: the thread is as good as gone for the next scan's dispatcher.
  run.settings_.census->Leave();
  return 0;
}

EchoOutcome ScanRun::SendEcho(const std::string& address, std::int32_t timeout) {
  const std::uint64_t due = AwakeClockMs() + static_cast<std::uint64_t>(timeout);
  const PendingEchoes::Ticket inProcess = settings_.processEchoes->Begin(due);
  // Checked once the echo counts as pending: an echo either begins before
  // the retirement and is waited for, or does not begin at all.
  if (!inProcess || IsRetired()) return {};
  EchoWatch::Ticket inRun = echoes_.Begin(static_cast<std::uint32_t>(timeout));
  const EchoOutcome outcome = settings_.probe.echo(address, timeout);
  if (outcome.serviceAnswered) inRun.Answered();
  return outcome;
}

// A retired run's worker begins no look-up: each may take seconds.
void ScanRun::ProbeAddress(const std::string& address) {
  const std::int32_t timeout = ClampTimeout(TextToInteger(settings_.port->ReadTimeoutText()));
  const EchoOutcome echo = SendEcho(address, timeout);
  // Told once the echo no longer counts as pending: the operator's answer
  // may take long, and the program's end waits for pending echoes.
  if (!echo.serviceAvailable) EndForSilentEchoService();
  const std::int32_t reply = echo.replyMs;
  if (reply == -1 || IsRetired()) return;
  std::string hostName = settings_.probe.hostName(address);
  if (IsRetired()) return;
  std::string macAddress = settings_.probe.macAddress(address);
  if (IsRetired()) return;
  const HostRecord host{DisplayAddressText(address), std::move(hostName), std::move(macAddress),
                        IntegerToText(reply)};
  const auto guard = settings_.locks->Enter(settings_.scanLock);
  settings_.port->RecordLiveHost(*this, host);
}

void ScanRun::FinishWorker() {
  // Decrement and notice under one lock: notices reach the window in the
  // order of the decrements, each with the count its decrement produced.
  const auto guard = settings_.locks->Enter(settings_.scanLock);
  const std::int32_t running = --ActiveWorkerCount;
  settings_.port->ReportActiveCount(*this, running);
}

void WaitForPendingEchoes(PendingEchoes& echoes, std::uint32_t graceMs) {
  constexpr std::uint32_t kLookMs = 1000;
  for (;;) {
    const std::optional<std::uint64_t> latest = echoes.LatestDue();
    if (!latest) return;
    const std::uint64_t now = AwakeClockMs();
    const std::uint64_t end = *latest + graceMs;
    if (now >= end) return;
    echoes.WaitUntilNone(static_cast<std::uint32_t>(end - now < kLookMs ? end - now : kLookMs));
  }
}

}  // namespace qv
