#pragma once
// The pause between two worker starts (Win32 code only): 10 ms from one
// start to the next, whatever the system timer's tick, and ended at once by
// the run's retirement event.
//
// Windows 11 ignores a raised timer resolution (timeBeginPeriod) for a
// process whose window is minimised or hidden, and a 10 ms wait then lasts a
// 15.6 ms tick. A high-resolution waitable timer (Windows 10 1803 and later)
// does not depend on the resolution; older systems refuse it and wait with
// the resolution raised to 1 ms, as they honour it.
//
// A timer may wake its waiter a steady fraction of a millisecond after its
// due time (Wine's does, by about 0.8 ms). The pause learns that lateness
// from its own waits and arms the timer that much early; what is left after
// the wake is given away a time slice at a time, so no start still comes
// sooner than 10 ms after the previous one.

#include <windows.h>

#include "base/stopwatch.h"
#include "base/win_handle.h"

namespace qv {

enum class PauseTimerKind {
  kHighResolution,  // a waitable timer with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
  kRaisedPeriod,    // a plain wait with the system timer raised to 1 ms
};

class DispatchPause {
 public:
  DispatchPause();
  ~DispatchPause();
  DispatchPause(const DispatchPause&) = delete;
  DispatchPause& operator=(const DispatchPause&) = delete;

  PauseTimerKind TimerKind() const noexcept {
    return timer_ ? PauseTimerKind::kHighResolution : PauseTimerKind::kRaisedPeriod;
  }

  // A worker starts now: the next may start 10 ms from here.
  void StartNow();
  // Microseconds left of the pause; 0 once it is over.
  long long LeftUs() const;
  // Waits for at most the microseconds, or until the event is set; true when
  // it was set. A wait may end early (a timer tick ends it as it comes, and
  // the high-resolution timer is armed early by its learnt lateness), so the
  // caller asks LeftUs again.
  bool WaitOrUntilSet(long long microseconds, HANDLE event);

  // How early the high-resolution timer is armed, in microseconds.
  long long LeadUs() const noexcept { return leadUs_; }

 private:
  bool ArmTimer(long long microseconds) const;
  bool WaitOnTimer(long long microseconds, HANDLE event);
  void LearnLateness(long long lateUs);
  long long NowUs() const;

  UniqueHandle timer_;
  bool periodRaised_ = false;
  Stopwatch sinceStart_;
  long long leadUs_ = 0;
};

}  // namespace qv
