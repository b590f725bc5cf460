#include "scan/scan_engine.h"

#include <mmsystem.h>

#include <utility>

#include "base/number_text.h"
#include "scan/address_text.h"

namespace qv {
namespace {

// A worker's whole life fits in a small stack; the default reservation of
// 1 MB or more would let a 32-bit process start only a few hundred of the
// 1,024 workers the operator may ask for.
constexpr SIZE_T kWorkerStackReservation = 256 * 1024;

constexpr DWORD kDispatchPauseMs = 10;
constexpr DWORD kSlotPollMs = 100;

// The hand-over block: what one worker owns from its start to its end.
struct WorkerHandOver {
  std::shared_ptr<ScanRun> run;
  std::string address;
};

// Sleep(10) lasts a whole timer tick (15.6 ms by default on Windows); the
// dispatch pause must be 10 ms, so the timer runs at 1 ms while a dispatcher
// walks.
class FineTimerPeriod {
 public:
  FineTimerPeriod() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~FineTimerPeriod() {
    if (active_) timeEndPeriod(1);
  }
  FineTimerPeriod(const FineTimerPeriod&) = delete;
  FineTimerPeriod& operator=(const FineTimerPeriod&) = delete;

 private:
  bool active_;
};

// The dispatch pause runs from one worker's start to the next, so the time
// a start takes (about a millisecond under Wine) is part of it and workers
// start every 10 ms for as long as free slots allow.
class DispatchPause {
 public:
  DispatchPause() { QueryPerformanceFrequency(&frequency_); }
  void StartNow() { QueryPerformanceCounter(&start_); }
  // Whole milliseconds left, rounded to the nearest: over many starts the
  // pause averages 10 ms.
  DWORD LeftMs() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const long long elapsedUs = (now.QuadPart - start_.QuadPart) * 1000000 / frequency_.QuadPart;
    const long long leftUs = static_cast<long long>(kDispatchPauseMs) * 1000 - elapsedUs;
    return leftUs > 0 ? static_cast<DWORD>((leftUs + 500) / 1000) : 0;
  }

 private:
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
};

}  // namespace

std::shared_ptr<WorkerCensus> WorkerCensus::OfProcess() {
  static const auto census = std::make_shared<WorkerCensus>(kMaxWorkers);
  return census;
}

std::shared_ptr<ScanRun> ScanRun::Create(ScanSettings settings) {
  return std::shared_ptr<ScanRun>(new ScanRun(std::move(settings)));
}

ScanRun::ScanRun(ScanSettings settings)
    : settings_(std::move(settings)), retiredEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

UniqueHandle ScanRun::StartDispatcher() {
  auto* self = new std::shared_ptr<ScanRun>(shared_from_this());
  UniqueHandle thread(CreateThread(nullptr, 0, &ScanRun::ScanDispatcher, self, 0, nullptr));
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
  return workerHandleList_.size();
}

void ScanRun::UnlistWorker(DWORD threadId) {
  std::lock_guard<std::mutex> hold(handlesMutex_);
  workerHandleList_.erase(threadId);
}

bool ScanRun::WaitForRetirement(DWORD milliseconds) const {
  if (IsRetired()) return true;
  if (!retiredEvent_) {
    Sleep(milliseconds);
    return IsRetired();
  }
  return WaitForSingleObject(retiredEvent_.get(), milliseconds) == WAIT_OBJECT_0;
}

DWORD WINAPI ScanRun::ScanDispatcher(LPVOID param) {
  const std::unique_ptr<std::shared_ptr<ScanRun>> self(static_cast<std::shared_ptr<ScanRun>*>(param));
  (*self)->Dispatch();
  (*self)->dispatchDone_ = true;
  return 0;
}

void ScanRun::Dispatch() {
  const FineTimerPeriod fineTimer;
  DispatchPause pause;
  if (IsRetired()) return;
  settings_.port->BeginScan(*this);

  std::string current = settings_.range.first;
  // The count bounds the walk even if the texts never met.
  for (std::uint64_t dispatched = 0; dispatched < settings_.range.count; ++dispatched) {
    while (activeWorkers_.load() >= settings_.limit || !settings_.census->HasRoom()) {
      if (WaitForRetirement(kSlotPollMs)) return;
    }
    if (IsRetired()) return;
    pause.StartNow();
    StartWorker(current);
    if (current == settings_.range.last) return;
    current = NextAddressText(current);
    if (WaitForRetirement(pause.LeftMs())) return;
  }
}

bool ScanRun::StartWorker(const std::string& address) {
  // The slot is taken before the thread exists, so a worker that ends at
  // once can never report fewer workers than are still running.
  ++activeWorkers_;
  settings_.census->Arrive();
  auto handOver = std::make_unique<WorkerHandOver>(WorkerHandOver{shared_from_this(), address});
  // Suspended until its handle is listed, so it can never end (and unlist
  // itself) before it is listed.
  DWORD threadId = 0;
  UniqueHandle thread(CreateThread(nullptr, kWorkerStackReservation, &ScanRun::HostProbeWorker, handOver.get(),
                                   STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, &threadId));
  if (!thread) {
    handOver.reset();
    settings_.census->Leave();
    FinishWorker();  // gives the slot back as an ended worker would
    return false;
  }
  handOver.release();  // the worker owns it now
  const HANDLE started = thread.get();
  {
    std::lock_guard<std::mutex> hold(handlesMutex_);
    workerHandleList_.emplace(threadId, std::move(thread));
  }
  ++startedWorkers_;
  ResumeThread(started);
  return true;
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

void ScanRun::ProbeAddress(const std::string& address) {
  const std::int32_t timeout = ClampTimeout(TextToInteger(settings_.port->ReadTimeoutText()));
  const std::int32_t reply = settings_.probe.echo(address, timeout);
  if (reply == -1 || IsRetired()) return;
  const HostRecord host{DisplayAddressText(address), settings_.probe.hostName(address),
                        settings_.probe.macAddress(address), IntegerToText(reply)};
  const auto guard = settings_.locks->Enter(settings_.scanLock);
  settings_.port->RecordLiveHost(*this, host);
}

void ScanRun::FinishWorker() {
  // Decrement and notice under one lock: notices reach the window in the
  // order of the decrements, each with the count its decrement produced.
  const auto guard = settings_.locks->Enter(settings_.scanLock);
  const std::int32_t running = --activeWorkers_;
  settings_.port->ReportActiveCount(*this, running);
}

}  // namespace qv
