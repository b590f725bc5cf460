// The echo probe and the look-ups against the hosts of the virtual LAN
// (testbed.sh). Runs inside the scanner namespace, started by
// run_lan_test.sh, which names the bed's truth file in QV_LAN_TRUTH.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scan/echo_probe.h"
#include "scan/host_lookup.h"
#include "scan/socket_library.h"

namespace qv {
namespace {

constexpr std::int32_t kTimeoutMs = 1000;

struct TruthRow {
  std::string address;
  std::string name;
  std::string mac;
  bool answersEcho;
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

class LanProbe : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* path = std::getenv("QV_LAN_TRUTH");
    if (path == nullptr) return;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      const std::vector<std::string> f = SplitTabs(line);
      if (f.size() != 4) {
        rows_.clear();
        return;
      }
      rows_.push_back({f[0], f[1], f[2], f[3] == "yes"});
    }
  }

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

TEST_F(LanProbe, LocalAddressIsTheScannersOwn) {
  const SocketLibraryScope sockets;
  ASSERT_TRUE(sockets.started());
  const std::vector<std::string> local = LocalAddresses();
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(local.front(), Scanner().address);
}

}  // namespace
}  // namespace qv
