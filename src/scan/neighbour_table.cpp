#include "scan/neighbour_table.h"

#include <algorithm>
#include <utility>

#include "scan/scan_rules.h"

namespace qv {
namespace {

constexpr std::uint32_t kAtfComplete = 0x2;  // ATF_COM: the row holds an answer

bool IsFieldSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The next run of non-space bytes from pos on, or "" at the line's end.
std::string_view NextField(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && IsFieldSpace(line[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && !IsFieldSpace(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0x2": "0x" and one to eight hexadecimal digits.
std::optional<std::uint32_t> FlagsValue(std::string_view text) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text.substr(2)) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// "02:fc:00:00:00:05": six two-digit bytes joined by ':', nothing else.
std::optional<MacBytes> HardwareAddress(std::string_view text) {
  MacBytes mac{};
  if (text.size() != 17) return std::nullopt;
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const std::size_t at = i * 3;
    if (i != 0 && text[at - 1] != ':') return std::nullopt;
    const int high = HexDigitValue(text[at]);
    const int low = HexDigitValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return mac;
}

void AddKernelRow(NeighbourTable& table, std::string_view line) {
  std::size_t pos = 0;
  const std::optional<std::uint32_t> address = AddressValue(NextField(line, pos));
  NextField(line, pos);  // hardware type: the address's form says enough
  const std::optional<std::uint32_t> flags = FlagsValue(NextField(line, pos));
  const std::optional<MacBytes> mac = HardwareAddress(NextField(line, pos));
  if (!address || !flags || !mac) return;
  if ((*flags & kAtfComplete) != 0 && !IsUnansweredMac(*mac)) {
    table.AddComplete(*address, *mac);
  } else {
    table.AddIncomplete(*address);
  }
}

}  // namespace

bool IsUnansweredMac(const MacBytes& mac) {
  return std::all_of(mac.begin(), mac.end(), [](std::uint8_t byte) { return byte == 0; });
}

std::optional<MacBytes> HardwareMac(const std::uint8_t* bytes, std::size_t length) {
  MacBytes mac{};
  if (length != mac.size()) return std::nullopt;
  std::copy(bytes, bytes + mac.size(), mac.begin());
  if (IsUnansweredMac(mac)) return std::nullopt;
  return mac;
}

void NeighbourTable::AddComplete(std::uint32_t address, const MacBytes& mac) {
  NeighbourAnswer& row = rows_[address];
  if (row.state == NeighbourState::kComplete) return;
  row.state = NeighbourState::kComplete;
  row.mac = mac;
}

void NeighbourTable::AddIncomplete(std::uint32_t address) {
  NeighbourAnswer& row = rows_[address];
  if (row.state == NeighbourState::kAbsent) row.state = NeighbourState::kIncomplete;
}

NeighbourAnswer NeighbourTable::Find(std::uint32_t address) const {
  const auto it = rows_.find(address);
  return it == rows_.end() ? NeighbourAnswer{} : it->second;
}

NeighbourTable ParseKernelNeighbourTable(std::string_view text) {
  NeighbourTable table;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    // The header line reads "IP address ...": not an address, so skipped.
    AddKernelRow(table, text.substr(start, end - start));
    start = end + 1;
  }
  return table;
}

std::shared_ptr<const NeighbourTable> SharedNeighbourReads::ReadStartedFromNow() {
  std::unique_lock<std::mutex> hold(mutex_);
  const std::uint64_t needed = readsStarted_ + 1;
  changed_.wait(hold, [&] { return latestNumber_ >= needed || !reading_; });
  if (latestNumber_ >= needed) return latest_;
  const std::uint64_t number = ++readsStarted_;
  reading_ = true;
  hold.unlock();
  // Whatever happens to this read, the workers waiting for it go on.
  const struct Done {
    SharedNeighbourReads& reads;
    ~Done() {
      const std::lock_guard<std::mutex> again(reads.mutex_);
      reads.reading_ = false;
      reads.changed_.notify_all();
    }
  } done{*this};
  auto table = std::make_shared<const NeighbourTable>(reader_());
  const std::lock_guard<std::mutex> again(mutex_);
  latest_ = table;
  latestNumber_ = number;
  return table;
}

std::optional<MacBytes> CompleteNeighbourMac(SharedNeighbourReads& reads, std::uint32_t address, int maxReads,
                                             const std::function<void()>& pause) {
  for (int read = 0; read < maxReads; ++read) {
    if (read != 0) pause();
    const NeighbourAnswer answer = reads.ReadStartedFromNow()->Find(address);
    if (answer.state == NeighbourState::kComplete) return answer.mac;
    if (answer.state == NeighbourState::kAbsent) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace qv
