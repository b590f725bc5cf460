// The pause between worker starts: the timer it waits on, its length and
// its end by the run's retirement.
#include "scan/dispatch_pause.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/win_handle.h"
#include "support/now_ms.h"

namespace qv {
namespace {

constexpr DWORD kHighResolutionTimerFlag = 0x2;

void WaitOutThePause(DispatchPause& pause, HANDLE event) {
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

// Whatever ends a wait, and however early the timer is armed once its
// lateness is learnt, a pause is never shorter than 10 ms. Its length is a
// benchmark's figure (worker_bench --pause); it is printed here only.
TEST(DispatchPause, LastsAtLeastTenMillisecondsFromItsStart) {
  DispatchPause pause;
  const UniqueHandle retired(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::vector<double> lengths;
  for (int round = 0; round < 60; ++round) {
    pause.StartNow();
    const double start = test::NowMs();
    WaitOutThePause(pause, retired.get());
    lengths.push_back(test::NowMs() - start);
    // The pause reads its clock a few microseconds after the test does.
    EXPECT_GE(lengths.back(), 10.0 - 0.02) << "round " << round;
  }
  std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
  std::printf("median pause %.3f ms, timer armed %lld us early\n", lengths[lengths.size() / 2], pause.LeadUs());
}

// The event ends a wait even when so little is left that the pause gives
// time slices away instead of arming its timer.
TEST(DispatchPause, RetirementEndsTheLastMomentsOfAPause) {
  DispatchPause pause;
  const UniqueHandle retired(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  for (int round = 0; round < 20; ++round) {
    pause.StartNow();
    WaitOutThePause(pause, retired.get());
  }
  SetEvent(retired.get());
  pause.StartNow();
  EXPECT_TRUE(pause.WaitOrUntilSet(1, retired.get()));
}

TEST(DispatchPause, RetirementEndsTheWait) {
  DispatchPause pause;
  const UniqueHandle retired(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  pause.StartNow();
  EXPECT_TRUE(pause.WaitOrUntilSet(pause.LeftUs(), retired.get()));
}

}  // namespace
}  // namespace qv
