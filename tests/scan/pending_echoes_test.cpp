// The record of pending echoes: what it says about them while they are
// pending, that a closed record lets none begin, and the wait for none.
#include "scan/pending_echoes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qv {
namespace {

TEST(PendingEchoes, KnowsTheEarliestAndLatestDueWhilePending) {
  PendingEchoes echoes;
  EXPECT_EQ(echoes.EarliestDue(), std::nullopt);
  {
    const auto a = echoes.Begin(500);
    auto b = echoes.Begin(100);
    const auto c = echoes.Begin(100);
    const auto d = echoes.Begin(900);
    EXPECT_EQ(echoes.Count(), 4u);
    EXPECT_EQ(echoes.EarliestDue(), 100u);
    EXPECT_EQ(echoes.LatestDue(), 900u);
    b = PendingEchoes::Ticket();  // one of two equal times returns
    EXPECT_EQ(echoes.EarliestDue(), 100u);
    EXPECT_EQ(echoes.Count(), 3u);
    PendingEchoes::Ticket moved(std::move(b));
    EXPECT_FALSE(moved);
    EXPECT_EQ(echoes.Count(), 3u);
  }
  EXPECT_EQ(echoes.Count(), 0u);
  EXPECT_EQ(echoes.LatestDue(), std::nullopt);
  EXPECT_TRUE(echoes.WaitUntilNone(0));
}

TEST(PendingEchoes, NoEchoBeginsOnceClosedAndThoseUnderWayStillCount) {
  PendingEchoes echoes;
  auto underWay = echoes.Begin(10);
  ASSERT_TRUE(underWay);
  echoes.Close();
  EXPECT_FALSE(echoes.Begin(20));
  EXPECT_EQ(echoes.Count(), 1u);
  EXPECT_FALSE(echoes.WaitUntilNone(20));
  underWay = PendingEchoes::Ticket();
  EXPECT_TRUE(echoes.WaitUntilNone(0));
}

// Workers end their echoes on their own threads while the program waits.
TEST(PendingEchoes, TheWaitEndsWhenTheLastEchoReturns) {
  PendingEchoes echoes;
  std::atomic<bool> release{false};
  std::vector<std::thread> workers;
  std::atomic<int> begun{0};
  for (int i = 0; i < 32; ++i) {
    workers.emplace_back([&, i] {
      const auto ticket = echoes.Begin(static_cast<std::uint64_t>(i));
      ++begun;
      while (!release) std::this_thread::yield();
    });
  }
  while (begun < 32) std::this_thread::yield();
  EXPECT_FALSE(echoes.WaitUntilNone(10));
  release = true;
  EXPECT_TRUE(echoes.WaitUntilNone(60000));
  for (std::thread& worker : workers) worker.join();
}

}  // namespace
}  // namespace qv
