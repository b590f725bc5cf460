// What a scan concludes about its echo service from the echoes it sends:
// silent only when nothing has come back for long while echoes were under
// way, lost echoes apart.
#include "scan/echo_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

constexpr std::uint32_t kGrace = 10000;
using Verdict = EchoWatch::Verdict;

class EchoWatchTest : public ::testing::Test {
 protected:
  std::uint64_t now = 0;
  EchoWatch watch{[this] { return now; }};
};

// One echo held far past its time-out while others keep coming back: the
// service answers, so it is not silent; once the answers stop, it becomes
// silent only after the largest pending time-out and the grace.
TEST_F(EchoWatchTest, OneHeldEchoAmongAnsweredOnesIsNoSilence) {
  const auto held = watch.Begin(100);
  for (now = 50; now <= 60000; now += 50) {
    auto other = watch.Begin(100);
    now += 20;
    other.Answered();
    ASSERT_EQ(watch.Judge(kGrace), Verdict::kAnswering) << "at " << now;
  }
  EXPECT_EQ(watch.Judge(kGrace), Verdict::kOnlyLostEchoes) << "answered since the held echo began";
  // The same held echo without the answers after it: a silent service.
  EchoWatch alone{[this] { return now; }};
  now = 0;
  const auto stuck = alone.Begin(100);
  now = 100 + kGrace;
  EXPECT_EQ(alone.Judge(kGrace), Verdict::kAnswering);
  ++now;
  EXPECT_EQ(alone.Judge(kGrace), Verdict::kSilent);
}

TEST_F(EchoWatchTest, TheBoundIsTheLargestPendingTimeOutPlusTheGrace) {
  const auto shortOne = watch.Begin(1);
  {
    const auto longOne = watch.Begin(60000);
    now = 1 + kGrace + 1;
    EXPECT_EQ(watch.Judge(kGrace), Verdict::kAnswering) << "the minute-long echo may still come back";
    now = 60000 + kGrace;
    EXPECT_EQ(watch.Judge(kGrace), Verdict::kAnswering);
    ++now;
    EXPECT_EQ(watch.Judge(kGrace), Verdict::kSilent);
    now = 1000;
  }
  // Once the long echo has gone, the short one alone sets the bound.
  now = 1 + kGrace + 1;
  EXPECT_EQ(watch.Judge(kGrace), Verdict::kSilent);
  EXPECT_EQ(watch.Count(), 1u);
}

// Time without any echo pending is no silence: a scan that waited minutes
// for room between its echoes is judged by the time its echoes were under
// way. Unanswered stretches add up, though: a service that refuses every
// echo for resources until its time-out answers none.
TEST_F(EchoWatchTest, OnlyTimeWithEchoesUnderWayCounts) {
  EXPECT_EQ(watch.Judge(kGrace), Verdict::kAnswering) << "nothing pending";
  {
    auto answered = watch.Begin(100);
    now = 10;
    answered.Answered();
  }
  now = 120000;
  const auto late = watch.Begin(100);
  now += 100 + kGrace;
  EXPECT_EQ(watch.Judge(kGrace), Verdict::kAnswering);
  ++now;
  EXPECT_EQ(watch.Judge(kGrace), Verdict::kSilent);

  EchoWatch refusals{[this] { return now; }};
  for (int echo = 0; echo < 500; ++echo) {
    now += 9;  // the pause between two workers' starts
    const auto refused = refusals.Begin(20);
    now += 20;
  }
  const auto pending = refusals.Begin(20);
  EXPECT_EQ(refusals.Count(), 1u);
  EXPECT_EQ(refusals.Judge(kGrace), Verdict::kAnswering) << "500 refusals of 20 ms: 10 s unanswered, within the bound";
  now += 21;
  EXPECT_EQ(refusals.Judge(kGrace), Verdict::kSilent);
}

TEST_F(EchoWatchTest, TicketsMoveAndEndOnce) {
  std::vector<EchoWatch::Ticket> tickets;
  tickets.push_back(watch.Begin(100));
  tickets.push_back(watch.Begin(200));
  EchoWatch::Ticket moved(std::move(tickets.front()));
  EXPECT_FALSE(tickets.front());
  EXPECT_EQ(watch.Count(), 2u);
  tickets.front() = std::move(moved);
  EXPECT_EQ(watch.Count(), 2u);
  tickets.back() = EchoWatch::Ticket();
  EXPECT_EQ(watch.Count(), 1u);
  tickets.clear();
  EXPECT_EQ(watch.Count(), 0u);
  now = 1000;
  EXPECT_EQ(watch.Judge(0), Verdict::kAnswering);
}

}  // namespace
}  // namespace qv
