#pragma once
// The scan's small rules that need no window: which ranges may be walked,
// how long a probe may wait, and what the window shows for a worker count.
// Portable: no platform headers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// An address range as the two address fields deliver it ("%d.%d.%d.%d").
struct ScanRange {
  std::string first;
  std::string last;
  std::uint64_t count;  // addresses from first to last, both included
};

enum class RangeProblem { kBlankFirst, kBlankLast, kMalformed, kLastBelowFirst };

// The numeric value of a dotted-decimal text of four fields 0..255 without
// anything else, or nothing.
std::optional<std::uint32_t> AddressValue(std::string_view text);

// A range the dispatcher can walk, or the reason it cannot: a blank or
// malformed field, or a last address below the first, would make the walk
// run past 255.255.255.255 without ever meeting the last address.
struct RangeCheck {
  std::optional<ScanRange> range;
  RangeProblem problem = RangeProblem::kMalformed;
};
RangeCheck CheckScanRange(std::string_view first, std::string_view last);

// The operator's refusal text for a range problem (GBK).
const char* RangeProblemText(RangeProblem problem);

// Probes wait at least 1 ms and at most a minute: the field is not validated,
// and a negative value would otherwise become a huge unsigned wait.
constexpr std::int32_t kMinTimeoutMs = 1;
constexpr std::int32_t kMaxTimeoutMs = 60000;
std::int32_t ClampTimeout(std::int32_t timeoutMs);

// The worker limit is kept between 1 and 1024.
constexpr std::int32_t kMaxWorkers = 1024;
enum class WorkerCountVerdict { kValid, kNotPositive, kTooLarge };
WorkerCountVerdict CheckWorkerCount(std::int32_t value);

// The progress bar's position: the share of free worker slots,
// ((limit - running) / limit) * 100 truncated toward zero. A limit that is
// not a valid worker count, or no running worker, gives an empty bar.
int ProgressPosition(std::int32_t limit, std::int32_t running);

// "线程： " and the count; any count at or below 0 reads "线程： 0".
std::string RunningWorkersText(std::int32_t running);

// "存活主机数：" and the number of hosts recorded.
std::string LiveHostsText(std::size_t hosts);

}  // namespace qv
