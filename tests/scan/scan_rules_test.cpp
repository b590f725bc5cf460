#include "scan/scan_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qv {
namespace {

TEST(CheckScanRange, AcceptsOrderedRangesAndCountsThem) {
  const auto one = CheckScanRange("10.0.0.7", "10.0.0.7");
  ASSERT_TRUE(one.range);
  EXPECT_EQ(one.range->count, 1u);
  const auto carry = CheckScanRange("192.168.1.254", "192.168.2.1");
  ASSERT_TRUE(carry.range);
  EXPECT_EQ(carry.range->count, 4u);
  EXPECT_EQ(carry.range->first, "192.168.1.254");
  EXPECT_EQ(carry.range->last, "192.168.2.1");
  const auto all = CheckScanRange("0.0.0.0", "255.255.255.255");
  ASSERT_TRUE(all.range);
  EXPECT_EQ(all.range->count, 4294967296u);
}

TEST(CheckScanRange, RefusesWhatCannotBeWalked) {
  EXPECT_EQ(CheckScanRange("", "10.0.0.1").problem, RangeProblem::kBlankFirst);
  EXPECT_EQ(CheckScanRange("10.0.0.1", "").problem, RangeProblem::kBlankLast);
  EXPECT_EQ(CheckScanRange("10.0.0.9", "10.0.0.8").problem, RangeProblem::kLastBelowFirst);
  EXPECT_EQ(CheckScanRange("10.0.1.0", "10.0.0.255").problem, RangeProblem::kLastBelowFirst);
  for (const char* bad : {"10.0.0", "10.0.0.256", "10.0.0.1.2", "a.b.c.d", "10..0.1", "10.0.0.1 ", "1000.0.0.1"})
    EXPECT_FALSE(CheckScanRange(bad, "10.0.0.1").range) << bad;
  EXPECT_FALSE(CheckScanRange(std::string(10000, '9'), "10.0.0.1").range);
}

// Each refusal names its own problem: a swapped or shared text would send
// the operator to the wrong field.
TEST(CheckScanRange, EachRefusalSaysWhatIsWrong) {
  const std::pair<RangeProblem, std::string> texts[] = {
      {RangeProblem::kBlankFirst, "请填写起始IP地址"},
      {RangeProblem::kBlankLast, "请填写结束IP地址"},
      {RangeProblem::kMalformed, "IP地址无效"},
      {RangeProblem::kLastBelowFirst, "结束IP地址不能小于起始IP地址"},
  };
  for (const auto& [problem, text] : texts) EXPECT_EQ(RangeProblemText(problem), text);
}

TEST(ClampTimeout, KeepsProbesBetweenOneMillisecondAndAMinute) {
  EXPECT_EQ(ClampTimeout(100), 100);
  EXPECT_EQ(ClampTimeout(0), 1);
  EXPECT_EQ(ClampTimeout(-1), 1);
  EXPECT_EQ(ClampTimeout(INT32_MIN), 1);
  EXPECT_EQ(ClampTimeout(999999), 60000);
  EXPECT_EQ(ClampTimeout(60000), 60000);
}

TEST(WorkerCount, ValidBetweenOneAnd1024) {
  EXPECT_EQ(CheckWorkerCount(0), WorkerCountVerdict::kNotPositive);
  EXPECT_EQ(CheckWorkerCount(-3), WorkerCountVerdict::kNotPositive);
  EXPECT_EQ(CheckWorkerCount(1), WorkerCountVerdict::kValid);
  EXPECT_EQ(CheckWorkerCount(1024), WorkerCountVerdict::kValid);
  EXPECT_EQ(CheckWorkerCount(1025), WorkerCountVerdict::kTooLarge);
}

TEST(ProgressPosition, FreeShareOfSlotsNeverBreaksOnBadLimits) {
  EXPECT_EQ(ProgressPosition(100, 3), 97);
  EXPECT_EQ(ProgressPosition(100, 100), 0);
  EXPECT_EQ(ProgressPosition(3, 1), 66);       // truncated, not rounded
  EXPECT_EQ(ProgressPosition(100, 0), 0);      // the scan is over: empty bar
  EXPECT_EQ(ProgressPosition(10, 100), 0);     // field lowered mid-scan: negative share
  EXPECT_EQ(ProgressPosition(0, 5), 0);        // would divide by zero
  EXPECT_EQ(ProgressPosition(-4, 5), 0);
  EXPECT_EQ(ProgressPosition(5000, 5), 0);     // not a valid field value
}

TEST(StatusTexts, CountsInDecimal) {
  EXPECT_EQ(RunningWorkersText(3), "线程： 3");
  EXPECT_EQ(RunningWorkersText(0), "线程： 0");
  EXPECT_EQ(RunningWorkersText(-2), "线程： 0");
  EXPECT_EQ(LiveHostsText(12), "存活主机数：12");
}

}  // namespace
}  // namespace qv
