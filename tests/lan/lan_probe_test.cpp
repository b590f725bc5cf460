// The echo probe and the look-ups against the hosts of the virtual LAN
// (testbed.sh). Runs inside the scanner namespace, started by
// run_lan_test.sh, which names the bed's truth file in QV_LAN_TRUTH.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "scan/echo_probe.h"
#include "scan/host_lookup.h"
#include "scan/socket_library.h"
#include "lan/lan_truth.h"

namespace qv {
namespace {

constexpr std::int32_t kTimeoutMs = 1000;

using test::TruthRow;

class LanProbe : public testing::Test {
 protected:
  static void SetUpTestSuite() { rows_ = test::ReadTruth(std::getenv("QV_LAN_TRUTH")); }

  void SetUp() override {
    ASSERT_NE(std::getenv("QV_LAN_TRUTH"), nullptr) << "run through tests/lan/run_lan_test.sh";
    ASSERT_GE(rows_.size(), 4u) << "truth file missing or malformed: " << std::getenv("QV_LAN_TRUTH");
  }

  static const TruthRow& Scanner() { return rows_.front(); }

  static inline std::vector<TruthRow> rows_;
};

// First: the echoes also fill the neighbour table that the MAC look-up reads.
TEST_F(LanProbe, EchoAnswersOnlyFromHostsThatAnswer) {
  for (const TruthRow& row : rows_) {
    SCOPED_TRACE(row.address);
    const std::int32_t time = EchoProbe(row.address, kTimeoutMs, true);
    if (row.answersEcho) {
      EXPECT_GE(time, 0);
    } else {
      EXPECT_EQ(time, -1);
    }
  }
}

TEST_F(LanProbe, EchoesFromManyThreadsAtOnce) {
  std::vector<std::int32_t> times(rows_.size() * 4, -2);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < times.size(); ++i) {
    threads.emplace_back([&times, i] { times[i] = EchoProbe(rows_[i % rows_.size()].address, kTimeoutMs, true); });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < times.size(); ++i) {
    const TruthRow& row = rows_[i % rows_.size()];
    SCOPED_TRACE(row.address);
    EXPECT_EQ(times[i] >= 0, row.answersEcho) << "time " << times[i];
  }
}

TEST_F(LanProbe, HostNamesAsTheHostsFileGivesThem) {
  for (const TruthRow& row : rows_) {
    SCOPED_TRACE(row.address);
    EXPECT_EQ(LookupHostName(row.address), row.name);
  }
}

TEST_F(LanProbe, NamesResolveForwardAndUnknownNamesDoNot) {
  for (const TruthRow& row : rows_) {
    if (row.name.empty()) continue;
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ResolveAddressText(row.name), row.address);
  }
  const std::string unknown = "no-such-host." + Scanner().name.substr(Scanner().name.find('.') + 1);
  EXPECT_EQ(ResolveAddressText(unknown), "");
  EXPECT_EQ(EchoProbe(unknown, kTimeoutMs, true), -1);
}

// Also the silent host: it ignores echoes but answers ARP. The unused
// address stands in the neighbour table with an all-zero MAC, which is none.
TEST_F(LanProbe, MacAddressesOfEveryHostAndOfTheScannerItself) {
  for (const TruthRow& row : rows_) {
    SCOPED_TRACE(row.address);
    EXPECT_EQ(LookupMacAddress(row.address), row.mac);
  }
}

// Workers share reads of the neighbour table; every one of them must still
// get its own host's MAC.
TEST_F(LanProbe, MacAddressesFromManyThreadsAtOnce) {
  std::vector<std::string> macs(rows_.size() * 8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < macs.size(); ++i) {
    threads.emplace_back([&macs, i] { macs[i] = LookupMacAddress(rows_[i % rows_.size()].address); });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < macs.size(); ++i) {
    SCOPED_TRACE(rows_[i % rows_.size()].address);
    EXPECT_EQ(macs[i], rows_[i % rows_.size()].mac);
  }
}

TEST_F(LanProbe, LocalAddressIsTheScannersOwn) {
  ASSERT_TRUE(SocketLibraryStarted());
  const std::vector<std::string> local = LocalAddresses();
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(local.front(), Scanner().address);
}

}  // namespace
}  // namespace qv
