#include "scan/scan_rules.h"

#include <algorithm>

#include "base/number_text.h"

namespace qv {

std::optional<std::uint32_t> AddressValue(std::string_view text) {
  std::uint32_t value = 0;
  std::size_t pos = 0;
  for (int field = 0; field < 4; ++field) {
    if (field != 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const std::size_t start = pos;
    std::uint32_t octet = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      octet = octet * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
    }
    if (pos == start || octet > 255) return std::nullopt;
    value = (value << 8) | octet;
  }
  if (pos != text.size()) return std::nullopt;
  return value;
}

RangeCheck CheckScanRange(std::string_view first, std::string_view last) {
  RangeCheck check;
  if (first.empty()) {
    check.problem = RangeProblem::kBlankFirst;
    return check;
  }
  if (last.empty()) {
    check.problem = RangeProblem::kBlankLast;
    return check;
  }
  const auto from = AddressValue(first);
  const auto to = AddressValue(last);
  if (!from || !to) {
    check.problem = RangeProblem::kMalformed;
    return check;
  }
  if (*to < *from) {
    check.problem = RangeProblem::kLastBelowFirst;
    return check;
  }
  // The dispatcher steps with NextAddressText, which writes fields without
  // leading zeros; comparing against the canonical last text keeps the walk
  // meeting it exactly.
  check.range = ScanRange{IntegerToText(*from >> 24) + "." + IntegerToText((*from >> 16) & 255) + "." +
                              IntegerToText((*from >> 8) & 255) + "." + IntegerToText(*from & 255),
                          IntegerToText(*to >> 24) + "." + IntegerToText((*to >> 16) & 255) + "." +
                              IntegerToText((*to >> 8) & 255) + "." + IntegerToText(*to & 255),
                          std::uint64_t{*to} - *from + 1};
  return check;
}

const char* RangeProblemText(RangeProblem problem) {
  switch (problem) {
    case RangeProblem::kBlankFirst: return "请填写起始IP地址";
    case RangeProblem::kBlankLast: return "请填写结束IP地址";
    case RangeProblem::kLastBelowFirst: return "结束IP地址不能小于起始IP地址";
    case RangeProblem::kMalformed: break;
  }
  return "IP地址无效";
}

std::int32_t ClampTimeout(std::int32_t timeoutMs) {
  return std::clamp(timeoutMs, kMinTimeoutMs, kMaxTimeoutMs);
}

WorkerCountVerdict CheckWorkerCount(std::int32_t value) {
  if (value <= 0) return WorkerCountVerdict::kNotPositive;
  if (value > kMaxWorkers) return WorkerCountVerdict::kTooLarge;
  return WorkerCountVerdict::kValid;
}

int ProgressPosition(std::int32_t limit, std::int32_t running) {
  if (running <= 0 || CheckWorkerCount(limit) != WorkerCountVerdict::kValid) return 0;
  const double share = (static_cast<double>(limit) - running) / limit * 100.0;
  return std::clamp(static_cast<int>(share), 0, 100);
}

std::string RunningWorkersText(std::int32_t running) {
  return "线程： " + IntegerToText(running <= 0 ? 0 : running);
}

std::string LiveHostsText(std::size_t hosts) { return "存活主机数：" + IntegerToText(static_cast<std::int64_t>(hosts)); }

}  // namespace qv
