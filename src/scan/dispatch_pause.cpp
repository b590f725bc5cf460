#include "scan/dispatch_pause.h"

#include <mmsystem.h>

#include "scan/loaded_module.h"

namespace qv {
namespace {

constexpr long long kDispatchPauseUs = 10 * 1000;
// Windows 10 1803 and later; older systems refuse the flag with
// ERROR_INVALID_PARAMETER.
constexpr DWORD kHighResolutionTimerFlag = 0x2;
// A timer that never fires cannot hold the dispatcher: the wait also ends
// one default tick after the pause.
constexpr DWORD kTimerBackstopMs = 16;
// A timer later than this is a busy machine, not the timer's habit: the lead
// never grows past it, so the time slices given away after a wake stay few.
constexpr long long kLargestLeadUs = 2000;

HANDLE CreateHighResolutionTimer() {
  return CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimerFlag, TIMER_MODIFY_STATE | SYNCHRONIZE);
}

DWORD WholeMsRoundedUp(long long microseconds) { return static_cast<DWORD>((microseconds + 999) / 1000); }

// Windows 11 throttles the timer resolution of a process without a visible
// window unless the process opts out. SetProcessInformation is Windows 8 and
// later, so it is looked up; a system that does not know the request
// refuses it, and nothing changes.
void AskNotToThrottleTimerResolution() {
  using SetProcessInformationFunction = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
  const LoadedModule kernel("kernel32.dll");
  const auto setProcessInformation = kernel.Find<SetProcessInformationFunction>("SetProcessInformation");
  if (setProcessInformation == nullptr) return;
  PROCESS_POWER_THROTTLING_STATE state{};
  state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
  state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
  state.StateMask = 0;  // never throttled
  setProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

}  // namespace

DispatchPause::DispatchPause() : timer_(CreateHighResolutionTimer()) {
  static const bool asked = [] {
    AskNotToThrottleTimerResolution();
    return true;
  }();
  static_cast<void>(asked);
  if (!timer_) periodRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
}

DispatchPause::~DispatchPause() {
  if (periodRaised_) timeEndPeriod(1);
}

void DispatchPause::StartNow() { sinceStart_.Restart(); }

long long DispatchPause::NowUs() const { return sinceStart_.ElapsedUs(); }

long long DispatchPause::LeftUs() const {
  const long long leftUs = kDispatchPauseUs - NowUs();
  return leftUs > 0 ? leftUs : 0;
}

bool DispatchPause::WaitOrUntilSet(long long microseconds, HANDLE event) {
  if (timer_ && microseconds <= leadUs_) {
    // Less is left than the timer would overshoot by: a time slice given
    // away is the closest wait there is.
    if (event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return true;
    SwitchToThread();
    return false;
  }
  if (timer_ && ArmTimer(microseconds - leadUs_)) return WaitOnTimer(microseconds - leadUs_, event);
  const DWORD ms = WholeMsRoundedUp(microseconds);
  if (event == nullptr) {
    Sleep(ms);
    return false;
  }
  return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

bool DispatchPause::ArmTimer(long long microseconds) const {
  LARGE_INTEGER due;
  due.QuadPart = -microseconds * 10;  // relative, in 100 ns units
  return SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

bool DispatchPause::WaitOnTimer(long long microseconds, HANDLE event) {
  const DWORD backstopMs = WholeMsRoundedUp(microseconds) + kTimerBackstopMs;
  const long long dueUs = NowUs() + microseconds;
  DWORD woke;
  if (event == nullptr) {
    woke = WaitForSingleObject(timer_.get(), backstopMs) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1 : WAIT_TIMEOUT;
  } else {
    // The event first: when both are set, the retirement wins.
    const HANDLE handles[2] = {event, timer_.get()};
    woke = WaitForMultipleObjects(2, handles, FALSE, backstopMs);
  }
  if (woke == WAIT_OBJECT_0 + 1) LearnLateness(NowUs() - dueUs);
  return woke == WAIT_OBJECT_0;
}

// A smoothed mean of the timer's lateness: one late wake on a busy machine
// moves it by an eighth.
void DispatchPause::LearnLateness(long long lateUs) {
  const long long seenUs = lateUs < 0 ? 0 : (lateUs > kLargestLeadUs ? kLargestLeadUs : lateUs);
  leadUs_ += (seenUs - leadUs_) / 8;
}

}  // namespace qv
