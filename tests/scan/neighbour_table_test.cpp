// The kernel's neighbour table read from its text, and the reads of it that
// workers share: what counts as an answer, and what a worker gets while the
// table changes under it.
#include "scan/neighbour_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "scan/scan_rules.h"

namespace qv {
namespace {

constexpr const char* kHeader =
    "IP address       HW type     Flags       HW address            Mask     Device\n";

std::uint32_t Address(const char* text) { return *AddressValue(text); }

NeighbourAnswer Lookup(const std::string& text, const char* address) {
  return ParseKernelNeighbourTable(text).Find(Address(address));
}

TEST(ParseKernelNeighbourTable, OnlyACompleteRowWithAMacIsAnAnswer) {
  const std::string table = std::string(kHeader) +
                            "10.0.0.2         0x1         0x2         02:fc:0a:00:00:02     *        eth0\n"
                            "10.0.0.3         0x1         0x0         00:00:00:00:00:00     *        eth0\n"
                            "10.0.0.4         0x1         0x6         02:FC:0A:00:00:04     *        eth0\n"
                            "10.0.0.5         0x1         0x2         00:00:00:00:00:00     *        eth0\n"
                            "10.0.0.6         0x1         0x4         02:fc:0a:00:00:06     *        eth0\n"
                            "10.0.0.7\t0x1\t0xc\t02:fc:0a:00:00:07\t*\teth0\r\n";
  const struct {
    const char* address;
    NeighbourState state;
    MacBytes mac;
  } cases[] = {
      {"10.0.0.2", NeighbourState::kComplete, {0x02, 0xfc, 0x0a, 0, 0, 0x02}},
      {"10.0.0.3", NeighbourState::kIncomplete, {}},  // asked, never answered
      {"10.0.0.4", NeighbourState::kComplete, {0x02, 0xfc, 0x0a, 0, 0, 0x04}},  // permanent, upper case
      {"10.0.0.5", NeighbourState::kIncomplete, {}},  // complete flag, all-zero MAC
      {"10.0.0.6", NeighbourState::kIncomplete, {}},  // permanent flag without ATF_COM
      {"10.0.0.7", NeighbourState::kIncomplete, {}},  // tabs and CR LF read too
      {"10.0.0.8", NeighbourState::kAbsent, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const NeighbourAnswer answer = Lookup(table, c.address);
    EXPECT_EQ(answer.state, c.state);
    if (c.state == NeighbourState::kComplete) {
      EXPECT_EQ(answer.mac, c.mac);
    }
  }
}

// The platform's tables list unanswered entries with a zero MAC, and some
// hardware addresses are not six bytes long.
TEST(HardwareMac, OnlySixBytesNotAllZeroAreAMac) {
  const std::uint8_t bytes[8] = {0x02, 0, 0, 0, 0, 0x1A, 0x77, 0x77};
  EXPECT_EQ(HardwareMac(bytes, 6), (MacBytes{0x02, 0, 0, 0, 0, 0x1A}));
  EXPECT_EQ(HardwareMac(bytes, 5), std::nullopt);
  EXPECT_EQ(HardwareMac(bytes, 8), std::nullopt);
  const std::uint8_t zero[6] = {};
  EXPECT_EQ(HardwareMac(zero, 6), std::nullopt);
}

TEST(ParseKernelNeighbourTable, MalformedLinesAreSkipped) {
  const std::string good = "10.1.0.9 0x1 0x2 02:00:00:00:00:09 * eth0\n";
  const char* bad[] = {
      "",
      "\n\n\n",
      "10.1.0.1",
      "10.1.0.1 0x1 0x2",
      "10.1.0.1 0x1 0x2 02:00:00:00:00",             // five bytes
      "10.1.0.1 0x1 0x2 02:00:00:00:00:01:02",       // eight
      "10.1.0.1 0x1 0x2 02-00-00-00-00-01 * eth0",   // wrong separator
      "10.1.0.1 0x1 0x2 0g:00:00:00:00:01 * eth0",   // not hexadecimal
      "10.1.0.1 0x1 2 02:00:00:00:00:01 * eth0",     // flags without 0x
      "10.1.0.1 0x1 0x 02:00:00:00:00:01 * eth0",
      "10.1.0.1 0x1 0x1234567890 02:00:00:00:00:01 * eth0",
      "10.1.0.256 0x1 0x2 02:00:00:00:00:01 * eth0",
      "10.1.0 0x1 0x2 02:00:00:00:00:01 * eth0",
      "fe80::1 0x1 0x2 02:00:00:00:00:01 * eth0",
      "10.1.0.1 0x20 0x2 02:00:00:00:00:01:00:00:00:00:00:00:00:00:00:00:00:00:00:00 * ib0",
      "\x81\xA3\xB1 \xFF\xFE\x00 0x2",
  };
  for (const char* line : bad) {
    SCOPED_TRACE(testing::PrintToString(std::string(line)));
    const NeighbourTable table = ParseKernelNeighbourTable(std::string(line) + "\n" + good + line);
    EXPECT_EQ(table.Find(Address("10.1.0.1")).state, NeighbourState::kAbsent);
    EXPECT_EQ(table.Find(Address("10.1.0.9")).state, NeighbourState::kComplete);
    EXPECT_EQ(table.size(), 1u);
  }
  EXPECT_EQ(ParseKernelNeighbourTable(kHeader).size(), 0u);
  EXPECT_EQ(ParseKernelNeighbourTable(std::string(100000, '\0')).size(), 0u);
  EXPECT_EQ(ParseKernelNeighbourTable(std::string(100000, ' ')).size(), 0u);
}

// An address may stand on several interfaces: the first answer counts, and
// an answer on one interface counts whatever the others say.
TEST(ParseKernelNeighbourTable, SeveralInterfaces) {
  const std::string table = std::string(kHeader) +
                            "10.2.0.1 0x1 0x0 00:00:00:00:00:00 * eth0\n"
                            "10.2.0.1 0x1 0x2 02:00:00:00:01:01 * eth1\n"
                            "10.2.0.1 0x1 0x2 02:00:00:00:02:01 * eth2\n"
                            "10.2.0.2 0x1 0x2 02:00:00:00:01:02 * eth1\n"
                            "10.2.0.2 0x1 0x0 00:00:00:00:00:00 * eth2\n";
  EXPECT_EQ(Lookup(table, "10.2.0.1").mac, (MacBytes{2, 0, 0, 0, 1, 1}));
  EXPECT_EQ(Lookup(table, "10.2.0.2").mac, (MacBytes{2, 0, 0, 0, 1, 2}));
  EXPECT_EQ(Lookup(table, "10.2.0.2").state, NeighbourState::kComplete);
}

TEST(ParseKernelNeighbourTable, AHugeTable) {
  std::string table = kHeader;
  for (std::uint32_t i = 0; i < 200000; ++i) {
    const unsigned b = (i >> 16) & 0xff, c = (i >> 8) & 0xff, d = i & 0xff;
    char line[96];
    std::snprintf(line, sizeof line, "10.%u.%u.%u 0x1 %s 02:00:00:%02x:%02x:%02x * eth%u\n", b, c, d,
                  i % 7 == 0 ? "0x0" : "0x2", b, c, d, i % 3);
    table += line;
  }
  table += std::string(1 << 20, 'x');  // one line of a megabyte, no end
  const NeighbourTable parsed = ParseKernelNeighbourTable(table);
  EXPECT_EQ(parsed.size(), 200000u);
  EXPECT_EQ(parsed.Find(Address("10.3.13.63")).mac, (MacBytes{2, 0, 0, 3, 13, 63}));
  EXPECT_EQ(parsed.Find(Address("10.0.0.7")).state, NeighbourState::kIncomplete);
}

// A reader that hands out one table after another and counts its reads.
class TableSequence {
 public:
  explicit TableSequence(std::vector<std::string> texts) : texts_(std::move(texts)) {}
  NeighbourTable operator()() {
    const std::size_t read = reads_++;
    return ParseKernelNeighbourTable(texts_[read < texts_.size() ? read : texts_.size() - 1]);
  }
  int reads() const { return static_cast<int>(reads_.load()); }

 private:
  std::vector<std::string> texts_;
  std::atomic<std::size_t> reads_{0};
};

NeighbourTable ReadFrom(TableSequence& sequence) { return sequence(); }

// The kernel's table between two reads: a host's row appears, another's is
// dropped. Each look-up takes a read that began after it asked.
TEST(SharedNeighbourReads, EachLookUpSeesAReadMadeAfterItAsked) {
  TableSequence sequence({
      "10.3.0.1 0x1 0x2 02:00:00:00:00:01 * eth0\n",
      "10.3.0.1 0x1 0x2 02:00:00:00:00:01 * eth0\n10.3.0.2 0x1 0x2 02:00:00:00:00:02 * eth0\n",
      "10.3.0.2 0x1 0x2 02:00:00:00:00:02 * eth0\n",
  });
  SharedNeighbourReads reads([&] { return ReadFrom(sequence); });
  int pauses = 0;
  const auto pause = [&] { ++pauses; };
  EXPECT_EQ(CompleteNeighbourMac(reads, Address("10.3.0.1"), 4, pause), (MacBytes{2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(CompleteNeighbourMac(reads, Address("10.3.0.2"), 4, pause), (MacBytes{2, 0, 0, 0, 0, 2}));
  EXPECT_EQ(CompleteNeighbourMac(reads, Address("10.3.0.1"), 4, pause), std::nullopt) << "dropped: no answer";
  EXPECT_EQ(sequence.reads(), 3);
  EXPECT_EQ(pauses, 0) << "an absent row is not waited for";
}

// A live host whose row is being resolved again when its MAC is read.
TEST(SharedNeighbourReads, AnIncompleteRowIsReadAgainUntilItCompletes) {
  const std::string asking = "10.4.0.1 0x1 0x0 00:00:00:00:00:00 * eth0\n";
  const std::string answered = "10.4.0.1 0x1 0x2 02:00:00:00:04:01 * eth0\n";
  TableSequence completes({asking, asking, answered});
  SharedNeighbourReads reads([&] { return ReadFrom(completes); });
  int pauses = 0;
  EXPECT_EQ(CompleteNeighbourMac(reads, Address("10.4.0.1"), 8, [&] { ++pauses; }), (MacBytes{2, 0, 0, 0, 4, 1}));
  EXPECT_EQ(completes.reads(), 3);
  EXPECT_EQ(pauses, 2);

  TableSequence never({asking});
  SharedNeighbourReads neverReads([&] { return ReadFrom(never); });
  EXPECT_EQ(CompleteNeighbourMac(neverReads, Address("10.4.0.1"), 5, [] {}), std::nullopt);
  EXPECT_EQ(never.reads(), 5) << "bounded";
}

// Many workers at once while the table grows by one host per read: every
// worker gets its own host's MAC, and the reads are shared.
TEST(SharedNeighbourReads, ManyWorkersWhileTheTableGrows) {
  constexpr int kHosts = 64;
  std::atomic<int> reads{0};
  SharedNeighbourReads shared([&] {
    const int grown = ++reads;
    std::string text;
    for (int host = 1; host <= kHosts; ++host) {
      char line[64];
      std::snprintf(line, sizeof line, "10.5.0.%d 0x1 %s 02:00:00:00:05:%02x * eth0\n", host,
                    host <= grown * 4 ? "0x2" : "0x0", host);
      text += line;
    }
    std::this_thread::yield();
    return ParseKernelNeighbourTable(text);
  });
  std::vector<std::optional<MacBytes>> macs(kHosts);
  std::vector<std::thread> workers;
  for (int host = 1; host <= kHosts; ++host) {
    workers.emplace_back([&, host] {
      const std::string address = "10.5.0." + std::to_string(host);
      macs[host - 1] = CompleteNeighbourMac(shared, Address(address.c_str()), 100, [] { std::this_thread::yield(); });
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int host = 1; host <= kHosts; ++host) {
    SCOPED_TRACE(host);
    EXPECT_EQ(macs[host - 1], (MacBytes{2, 0, 0, 0, 5, static_cast<std::uint8_t>(host)}));
  }
}

TEST(SharedNeighbourReads, AReadThatFailsLetsTheWaitingWorkersGoOn) {
  std::atomic<int> calls{0};
  SharedNeighbourReads reads([&]() -> NeighbourTable {
    if (++calls == 1) throw std::bad_alloc();
    return ParseKernelNeighbourTable("10.6.0.1 0x1 0x2 02:00:00:00:06:01 * eth0\n");
  });
  EXPECT_THROW(reads.ReadStartedFromNow(), std::bad_alloc);
  EXPECT_EQ(CompleteNeighbourMac(reads, Address("10.6.0.1"), 1, [] {}), (MacBytes{2, 0, 0, 0, 6, 1}));
}

}  // namespace
}  // namespace qv
