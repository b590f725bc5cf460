#pragma once
// The neighbour table: which MAC answered for which IPv4 address on the local
// network, as the system's table of ARP answers lists it, and the reads of
// that table that the scan's workers share.
// Portable: no platform headers.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace qv {

using MacBytes = std::array<std::uint8_t, 6>;

// A table lists an entry that has had no answer with an all-zero MAC.
bool IsUnansweredMac(const MacBytes& mac);
// The six bytes of a hardware address of that length, unless unanswered.
std::optional<MacBytes> HardwareMac(const std::uint8_t* bytes, std::size_t length);

// What the table says about one address. An incomplete row is an address the
// system has asked for and has had no answer from (yet).
enum class NeighbourState { kAbsent, kIncomplete, kComplete };

struct NeighbourAnswer {
  NeighbourState state = NeighbourState::kAbsent;
  MacBytes mac{};
};

class NeighbourTable {
 public:
  // Addresses are numeric values, the first field in the highest byte. A
  // complete row needs a MAC other than all zeros; the first complete row of
  // an address wins (the same address may stand on several interfaces).
  void AddComplete(std::uint32_t address, const MacBytes& mac);
  void AddIncomplete(std::uint32_t address);
  NeighbourAnswer Find(std::uint32_t address) const;
  std::size_t size() const { return rows_.size(); }

 private:
  std::unordered_map<std::uint32_t, NeighbourAnswer> rows_;
};

// The kernel's table in its text form (/proc/net/arp): a header line, then a
// line per row, "address  hw-type  flags  hw-address  mask  device". A row is
// complete when its flags hold ATF_COM (0x2) and its hardware address is six
// two-digit hexadecimal bytes joined by ':'. Lines that do not read so are
// skipped.
NeighbourTable ParseKernelNeighbourTable(std::string_view text);

// Reads of the neighbour table shared by the workers. A read that begins
// after a worker asks holds the row its echo reply made, so every worker
// that asks while one read runs takes the result of the next one, which the
// first of them starts: at most two reads' wait, one read per wave of
// workers. (Under Wine the system's own table is read one reader at a time
// at about half a millisecond per row.)
class SharedNeighbourReads {
 public:
  using Reader = std::function<NeighbourTable()>;
  explicit SharedNeighbourReads(Reader reader) : reader_(std::move(reader)) {}

  std::shared_ptr<const NeighbourTable> ReadStartedFromNow();

 private:
  Reader reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reading_ = false;
  std::uint64_t readsStarted_ = 0;
  std::uint64_t latestNumber_ = 0;
  std::shared_ptr<const NeighbourTable> latest_;
};

// The MAC of the address from reads that start after the call. An incomplete
// row means the system is still asking the host, as when a live host's row
// was dropped and is being resolved again: the next read, after `pause`, may
// hold its answer; at most `reads` reads are made. Nothing when the row is
// absent or never completes.
std::optional<MacBytes> CompleteNeighbourMac(SharedNeighbourReads& reads, std::uint32_t address, int maxReads,
                                             const std::function<void()>& pause);

}  // namespace qv
