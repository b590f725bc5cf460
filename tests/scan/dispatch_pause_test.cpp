// The pause between worker starts: the timer it waits on, its length and
// its end by the run's retirement.
#include "scan/dispatch_pause.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/win_handle.h"
#include "support/now_ms.h"

namespace qv {
namespace {

constexpr DWORD kHighResolutionTimerFlag = 0x2;

void WaitOutThePause(const DispatchPause& pause, HANDLE event) {
  for (long long left = pause.LeftUs(); left > 0; left = pause.LeftUs()) pause.WaitOrUntilSet(left, event);
}

// Windows 11 stretches a 10 ms wait of a hidden or minimised window to a
// 15.6 ms tick unless it waits on a high-resolution timer: where the system
// makes one, the pause must use it.
TEST(DispatchPause, WaitsOnAHighResolutionTimerWhereTheSystemMakesOne) {
  const UniqueHandle offered(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimerFlag, SYNCHRONIZE));
  const DispatchPause pause;
  std::printf("high-resolution timer offered: %s\n", offered ? "yes" : "no");
  EXPECT_EQ(pause.TimerKind(), offered ? PauseTimerKind::kHighResolution : PauseTimerKind::kRaisedPeriod);
}

// Whatever ends a wait, a pause is never shorter than 10 ms.
TEST(DispatchPause, LastsAtLeastTenMillisecondsFromItsStart) {
  DispatchPause pause;
  const UniqueHandle retired(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  for (int round = 0; round < 40; ++round) {
    pause.StartNow();
    const double start = test::NowMs();
    WaitOutThePause(pause, retired.get());
    // The pause reads its clock a few microseconds after the test does.
    EXPECT_GE(test::NowMs() - start, 10.0 - 0.02) << "round " << round;
  }
}

TEST(DispatchPause, RetirementEndsTheWait) {
  DispatchPause pause;
  const UniqueHandle retired(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  pause.StartNow();
  EXPECT_TRUE(pause.WaitOrUntilSet(pause.LeftUs(), retired.get()));
}

}  // namespace
}  // namespace qv
